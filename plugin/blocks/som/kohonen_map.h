// KohonenMap: trains a self-organizing map on input row vectors, keeps
// per-node class histograms, and outputs the best-matching node and class
// and the map's weight planes. The map and the histograms live in two
// matrix parameters, so a saved patch brings a trained map back.
//
// An execution takes the input row only when the input's data query
// answers true; our host answers so once per value, so an execution that a
// provide trigger asked for serves the pending outputs without training on
// the old row again.
//
// A feature that is NaN or infinite matches no node: no node or class is
// output, the training step updates no weight (it still counts as an
// iteration) and the class plane and the map output are produced as usual.
//
// Choices where the behaviour was ours to make, or where we keep a guard:
// - A class value outside 1..Classes (or not a number) is not counted: a
//   warning names the value and the valid range, and the class output
//   reports the node's class from the histograms as they are.
// - Rows or Columns outside 1..100 from a patch file make Init fail (edits
//   are clamped into range), and a map whose weight planes or class
//   histograms would hold more than 2^24 values is refused when edited and
//   at Init: such a map would exhaust memory instead of failing cleanly.
// - An input that changed shape after Init is not read (a warning says so),
//   and with an Input Pattern Length below 0 no class value is read: both
//   would read outside the input.
// - A class matrix whose shape does not fit the grid and Classes is
//   reported and left alone rather than read out of bounds.
// - Any exception inside a lifecycle method or a parameter change is
//   reported as an error; one that carries no text gets a message of its
//   own.
#pragma once

#include <cstdint>
#include <vector>

#include "blocks/som/som.h"
#include "framework/block_base.h"

namespace Mrv {

class CKohonenMap : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CKohonenMap(const CreationContext* context);

protected:
    void InitSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    // False, after the error message, for a map that cannot be kept.
    bool SizesFit(int32 rows, int32 cols, int32 length, int32 classes);
    void ProcessPattern();
    void UpdateClasses(int node, double class_value);
    void PublishPlanes();

    // Actions shared by the parameter changes and Init.
    void RebuildMap();
    void ResetMap();
    void ResetClasses();
    void ResetISearch();
    void StartTraining();
    void StartRunning();
    void ShapeOutputs();
    void FitParameterMatrices();
    void ResizeMatrixValue(IDoubleMatrix* matrix, int32 rows, int32 columns);
    void ChangeCustomParameters();
    void ClampGridSize(const std::string& id);
    void SetStatus(int32 status);
    // Map <-> matrix with the dimension message on a mismatch.
    void MapToMatrix(IDoubleMatrix* matrix, int32 first, int32 last);
    void MatrixToMap(IDoubleMatrix* matrix);

    int32 IntValue(const std::string& id) { return ParameterValue<IInt>(id)->GetValue(); }
    bool BoolValue(const std::string& id) { return ParameterValue<IBool>(id)->GetValue(); }
    double RadiusValue();
    double LearningRateValue();

    input_pin<IDoubleMatrix> input_;
    output_pin<ILabelledSet> map_output_;
    output_pin<IPoint2DInt> point_output_;
    output_pin<IInt> class_output_;
    output_pin<IDoubleMatrix> map_matrix_output_, class_matrix_output_;
    // The block's own planes, from Init to Done.
    CSmartPtr<IDoubleMatrix> plane_buffer_, class_plane_;

    CSom map_;
    std::vector<double> pattern_;
    bool provide_map_ = false, provide_classes_ = false;
    bool ready_ = false;  // Init succeeded and the pins are bound
    bool has_class_information_ = false;
    int32 input_width_ = 0;
    // The map output holds the planes of this map revision.
    bool planes_published_ = false;
    std::uint64_t published_revision_ = 0;
    TimeStamp last_input_time_ = 0;
};

}  // namespace Mrv
