#include "blocks/som/kohonen_map.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const char* const Input = "KohonenMapInput";
const char* const Matrix = "KohonenMapParameterMatrix";
const char* const InputPatternLength = "KohonenMapParameterInputPatternLength";
const char* const Status = "KohonenMapParameterStatus";
const char* const Train = "KohonenMapParameterTrain";
const char* const Run = "KohonenMapParameterRun";
const char* const ResetMapTrigger = "KohonenMapParameterResetMap";
const char* const ResetClassesTrigger = "KohonenMapParameterResetClasses";
const char* const ResetISearchTrigger = "KohonenMapParameterResetISearch";
const char* const ProvideMap = "KohonenMapParameterProvideMap";
const char* const ProvideClasses = "KohonenMapParameterProvideClasses";
const char* const Rows = "KohonenMapParameterRows";
const char* const Cols = "KohonenMapParameterCols";
const char* const Iterations = "KohonenMapParameterIterations";
const char* const Classes = "KohonenMapParameterClasses";
const char* const ClassMatrix = "KohonenMapParameterClassMatrix";
const char* const UseClasses = "KohonenMapParameterUseClasses";
const char* const CustomParameters = "KohonenMapParameterCustomParameters";
const char* const EnableUnpredictable = "KohonenMapParameterEnableUnpredictable";
const char* const Radius = "KohonenMapParameterRadius";
const char* const LearningRate = "KohonenMapParameterLearningRate";
const char* const OutputMap = "KohonenMapOutputMap";
const char* const OutputPoint = "KohonenMapOutputPoint";
const char* const OutputClass = "KohonenMapOutputClass";
const char* const OutputMapMatrix = "KohonenMapOutputMapMatrix";
const char* const OutputClassMatrix = "KohonenMapOutputClassMatrix";

const char* const dimensions_message =
    "KohonenMap: SOM dimensions do not correspond to parameter or output matrix dimensions.\n";
const char* const isearch_size_message = "KohonenMap: this operation is possible only if the input vector size is 4.\n";
const char* const not_single_row_message = "KohonenMap: input pattern must be a single row matrix.\n";
const char* const pattern_length_message =
    "KohonenMap: input pattern length (%d) must match the corresponding parameter value (%d) or that value +1 (%d).\n";
const char* const without_classes_message = "KohonenMap: input vector does not include class information.\n";
const char* const with_classes_message = "KohonenMap: input vector includes class information.\n";
// Bad input the map cannot work with.
const char* const grid_size_message = "KohonenMap: %s must lie between 1 and 100, not %d.\n";
const char* const too_large_message =
    "KohonenMap: a %d x %d map of %d weights and %d classes is too large to keep (at most %lld values per matrix).\n";
const char* const class_range_message =
    "KohonenMap: class value %g is outside the valid range 1..%d; the class histograms are not updated.\n";
const char* const input_reshaped_message = "KohonenMap: the input pattern changed shape after Init; the pattern is skipped.\n";
const char* const message_prefix = "KohonenMap: ";

constexpr int32 training = 0;
constexpr int32 running = 1;
constexpr int32 smallest_grid = 1;
constexpr int32 largest_grid = 100;
// Largest weight-plane or histogram matrix kept, in values (128 MB).
constexpr std::int64_t largest_matrix = std::int64_t{1} << 24;
constexpr double automatic_radius = 0.5;
constexpr double automatic_learning_rate = 0.1;

const declaration signature_table[] = {
    input(Input, "Input Pattern",
          "A vector (single row matrix) consisting of the Kohonen Map input values. Matrix row length must be equal "
          "to the Kohonen Map node weights vector length.",
          "double-matrix"),
    parameter(Matrix, "Kohonen Map",
              "This parameter contains the Kohonen Map and cannot be edited. Its dimensions depend on the Kohonen Map "
              "dimensions and the input pattern dimension (width=kohonen map width; height=kohonen map height * input "
              "pattern dimension). It allows us to easily save and load the map.",
              "double-matrix")
        .attribute(AttrRunChange, true),
    parameter(InputPatternLength, "Input Pattern Length",
              "This is the length of the input pattern vector. Please be sure that you provide an input pattern (row "
              "matrix) with the specified length.",
              "int")
        .initial_value(4)
        .attribute(AttrRunChange, false),
    parameter(Status, "Status", "This is the current status of the Kohonen Map.", "int")
        .initial_value(training)
        .layout(combo_layout{{"training", "running"}})
        .domain(int_domain().minimum(0, true).maximum(1, true))
        .attribute(AttrVisible, false)
        .attribute(AttrRunChange, false),
    parameter(Train, "Train", "The Kohonen Map status is set to training.", "trigger").attribute(AttrRunChange, true),
    parameter(Run, "Run", "The Kohonen Map status is set to running.", "trigger").attribute(AttrRunChange, true),
    parameter(ResetMapTrigger, "Reset map", "The Kohonen Map is re-initialized and re-trained.", "trigger")
        .attribute(AttrRunChange, true),
    parameter(ResetClassesTrigger, "Reset classes", "The classes matrix is re-initialized.", "trigger")
        .attribute(AttrRunChange, true),
    parameter(ResetISearchTrigger, "Reset I-Search",
              "The Kohone Map is re-initialized to the starting state for the I-Search demo.", "trigger")
        .attribute(AttrRunChange, true),
    parameter(ProvideMap, "Provide the Kohonen Map as output",
              "When this event is triggered the internal Kohonen Map is provided as output on the corresponding pin.",
              "trigger")
        .attribute(AttrRunChange, true),
    parameter(ProvideClasses, "Provide the classes matrix as output",
              "When this event is triggered the classes matrix parameter is provided as output on the corresponding "
              "pin.",
              "trigger")
        .attribute(AttrRunChange, true),
    parameter(Rows, "Rows", "The Kohonen Map number of columns.", "int")
        .initial_value(40)
        .attribute(AttrRunChange, false),
    parameter(Cols, "Columns", "The Kohonen Map number of columns.", "int")
        .initial_value(40)
        .attribute(AttrRunChange, false),
    parameter(Iterations, "Iterations",
              "The number of iterations performed during the training phase before switching to the running phase.",
              "int")
        .initial_value(1000)
        .attribute(AttrRunChange, true),
    parameter(Classes, "Number of classes", "The number of classes used to classify the input pattern.", "int")
        .initial_value(5)
        .attribute(AttrRunChange, false),
    parameter(ClassMatrix, "Class Matrix",
              "This parameter contains the histograms of the classes for each node. Its dimensions depend on the "
              "Kohonen Map dimensions and the number of classes (width=kohonen map width; height=kohonen map height * "
              "number of classes). It allows us to easily save and load the map.",
              "double-matrix")
        .attribute(AttrRunChange, true),
    parameter(UseClasses, "Use classes",
              "If yes, the input pattern is expected to end with the classes to which the pattern belongs to and the "
              "classes matrix is used.",
              "bool")
        .initial_value(false)
        .attribute(AttrRunChange, false),
    parameter(CustomParameters, "Custom Parameters",
              "If true, the influence radius of the input pattern and the learning rate of the Kohonen Map are "
              "provided by the user, if false they are automatically determined during the training phase.",
              "bool")
        .initial_value(false)
        .attribute(AttrRunChange, false),
    parameter(EnableUnpredictable, "Enable unpredictable state",
              "If enabled, when a node without a prevalent class is predicted the best matching class output is set "
              "to -1. If disabled, the best matching class output is set to the first of the equally prevailing "
              "classes.",
              "int")
        .initial_value(0)
        .layout(combo_layout{{"true", "false"}})
        .domain(int_domain().minimum(0, true).maximum(1, true))
        .attribute(AttrVisible, true)
        .attribute(AttrRunChange, true),
    output(OutputMap, "Output Kohonen Map",
           "This is a lebeled set in which every element is a 2D matrix; for the n-th matrix, the element (i,j) "
           "corresponds to the Kohonen Map cell (i,j) and represents the n-th weight value.",
           "labeled_set"),
    output(OutputPoint, "Best matching node", "This is the best matching node.", "point_2d_int").catalog("base"),
    output(OutputClass, "Best matching class", "This is the best matching class.", "int"),
    output(OutputMapMatrix, "Kohonen Map in matrix format",
           "This output is provided only when the corresponding parameter is triggered.", "double-matrix"),
    output(OutputClassMatrix, "Classes matrix",
           "This output is provided only when the corresponding parameter is triggered.", "double-matrix"),
};

// Declared while custom parameters is on.
const declaration custom_parameter_table[] = {
    parameter(Radius, "Custom radius value", "Influence radius of the input pattern.", "double")
        .initial_value(automatic_radius)
        .attribute(AttrRunChange, true),
    parameter(LearningRate, "Custom learning rate value",
              "Learning rate of the input pattern (how much the input pattern influences the samples in the influence "
              "radius).",
              "double")
        .initial_value(automatic_learning_rate)
        .attribute(AttrRunChange, true),
};

// Height of `planes` stacked rows-high planes; no planes below 0.
int32 PlanesHeight(int32 rows, int32 planes) { return std::max(rows, 0) * std::max(planes, 0); }

// Why a map of this size cannot be kept, or empty when it can: a side of
// the grid outside 1..100, or weight planes or class histograms that would
// hold more than largest_matrix values.
std::string map_size_problem(int32 rows, int32 cols, int32 length, int32 classes) {
    for (const auto& [value, name] : {std::pair{rows, "Rows"}, std::pair{cols, "Columns"}})
        if (value < smallest_grid || value > largest_grid) return format_text(grid_size_message, name, value);
    const std::int64_t cells = static_cast<std::int64_t>(rows) * cols;
    if (cells * std::max(length, classes) <= largest_matrix) return {};
    return format_text(too_large_message, rows, cols, length, classes, static_cast<long long>(largest_matrix));
}

matrix_view view_of(IDoubleMatrix* matrix) {
    return {matrix->GetWritePointer(), matrix->GetHeight(), matrix->GetWidth()};
}

}  // namespace

CKohonenMap::CKohonenMap(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::error(message_prefix)),
      input_(this, Input),
      map_output_(this, OutputMap),
      point_output_(this, OutputPoint),
      class_output_(this, OutputClass),
      map_matrix_output_(this, OutputMapMatrix),
      class_matrix_output_(this, OutputClassMatrix) {
    UseTable(signature_table);
    AddDrivingInput(Input, 1);
}

void CKohonenMap::InitSignature() {
    CBlockImplBase::InitSignature();
    const int32 rows = IntValue(Rows), cols = IntValue(Cols);
    ShapeMatrix(ParameterValue<IDoubleMatrix>(Matrix), PlanesHeight(rows, IntValue(InputPatternLength)), cols);
    ShapeMatrix(ParameterValue<IDoubleMatrix>(ClassMatrix), PlanesHeight(rows, IntValue(Classes)), cols);
    ParameterValue<IDoubleMatrix>(ClassMatrix)->SetAll(0.0);
    provide_map_ = provide_classes_ = has_class_information_ = false;
    ResetMap();
}

// Too large a map cannot be kept.
bool CKohonenMap::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    if (id != Rows && id != Cols && id != InputPatternLength && id != Classes) return true;
    const int32 value = CSmartPtr<IInt>(new_value)->GetValue();
    int32 rows = IntValue(Rows), cols = IntValue(Cols), length = IntValue(InputPatternLength),
          classes = IntValue(Classes);
    (id == Rows ? rows : id == Cols ? cols : id == InputPatternLength ? length : classes) = value;
    return SizesFit(std::clamp(rows, smallest_grid, largest_grid), std::clamp(cols, smallest_grid, largest_grid),
                    length, classes);
}

bool CKohonenMap::SizesFit(int32 rows, int32 cols, int32 length, int32 classes) {
    const std::string problem = map_size_problem(rows, cols, length, classes);
    if (problem.empty()) return true;
    NotifyError("%s", problem.c_str());
    return false;
}

// Each test below is made on its own, in this order.
void CKohonenMap::OnChangedParameter(const std::string& id) {
    if (id == Train) StartTraining();
    if (id == Run) StartRunning();
    if (id == ResetMapTrigger) ResetMap();
    if (id == ResetClassesTrigger) ResetClasses();
    if (id == ResetISearchTrigger) ResetISearch();
    if (id == ProvideMap || id == ProvideClasses) {
        (id == ProvideMap ? provide_map_ : provide_classes_) = true;
        // Served at the next execution, whether or not a pattern arrives.
        RequestExecution();
    }
    if (id == Rows || id == Cols) ClampGridSize(id);
    if (id == Cols || id == Rows || id == InputPatternLength || id == Classes) {
        ShapeOutputs();
        FitParameterMatrices();
        ResetMap();
        NotifyParameterChanged(ClassMatrix);
    }
    if (id == CustomParameters) ChangeCustomParameters();
    if (id == Matrix) MatrixToMap(ParameterValue<IDoubleMatrix>(Matrix));
    if (id == Iterations) map_.SetIterations(IntValue(Iterations));
}

bool CKohonenMap::Init() {
    ready_ = false;
    if (!SizesFit(IntValue(Rows), IntValue(Cols), IntValue(InputPatternLength), IntValue(Classes))) return false;
    if (input_->GetHeight() != 1) {
        NotifyError("%s", not_single_row_message);
        return false;
    }
    const int32 length = IntValue(InputPatternLength), width = input_->GetWidth();
    if (width != length && width != length + 1) {
        NotifyError(pattern_length_message, width, length, length + 1);
        return false;
    }
    has_class_information_ = width == length + 1;
    NotifyMessage("%s", has_class_information_ ? with_classes_message : without_classes_message);
    input_width_ = width;

    const int32 rows = IntValue(Rows), cols = IntValue(Cols);
    ShapeMatrix(map_matrix_output_.get(), PlanesHeight(rows, length), cols);
    ShapeMatrix(class_matrix_output_.get(), PlanesHeight(rows, IntValue(Classes)), cols);
    plane_buffer_ = CSmartPtr<IDoubleMatrix>::adopt(Kernel()->CreateDatatype("kernel", "double-matrix"));
    class_plane_ = CSmartPtr<IDoubleMatrix>::adopt(Kernel()->CreateDatatype("kernel", "double-matrix"));

    ShapeOutputs();
    RebuildMap();
    map_.SetLearningRate(LearningRateValue());
    // Restores the saved map when the parameter's shape fits the grid.
    MatrixToMap(ParameterValue<IDoubleMatrix>(Matrix));
    provide_map_ = provide_classes_ = false;
    ready_ = true;
    return true;
}

// On every new pattern, and when a provide trigger asked for an execution.
bool CKohonenMap::Execute() {
    if (!ready_) return true;  // Init failed: nothing is bound
    if (input_.HasData()) ProcessPattern();
    if (provide_map_) {
        MapToMatrix(map_matrix_output_.get(), -1, -1);
        map_matrix_output_->SetTimeStamp(Now());
        provide_map_ = false;
    }
    if (provide_classes_) {
        class_matrix_output_->CopyFrom(ParameterValue<IDoubleMatrix>(ClassMatrix));
        class_matrix_output_->SetTimeStamp(Now());
        provide_classes_ = false;
    }
    return true;
}

void CKohonenMap::ProcessPattern() {
    const int32 length = map_.PatternLength();
    if (input_->GetHeight() != 1 || input_->GetWidth() != input_width_ ||
        input_width_ != length + (has_class_information_ ? 1 : 0)) {
        NotifyWarning("%s", input_reshaped_message);
        return;
    }
    const double* row = input_->GetReadPointer();
    pattern_.assign(row, row + std::max(length, 0));
    const double class_value = has_class_information_ && length >= 0 ? row[length] : -1.0;

    // A NaN or infinite feature matches no node.
    const int node = map_.FindBestMatch(pattern_.data());
    if (node >= 0) {
        point_output_->SetX(node % map_.Cols());
        point_output_->SetY(node / map_.Cols());
        point_output_->SetTimeStamp(Now());
    }
    if (IntValue(Status) == training) {
        const bool custom = BoolValue(CustomParameters);
        if (!map_.Done() || custom)
            map_.TrainStep(pattern_.data(), pattern_.size(), length, custom, RadiusValue(), LearningRateValue());
        if (map_.Done()) SetStatus(running);
    }
    if (BoolValue(UseClasses)) UpdateClasses(node, class_value);
    PublishPlanes();
}

void CKohonenMap::UpdateClasses(int node, double class_value) {
    const int32 classes = IntValue(Classes), rows = map_.Rows(), cols = map_.Cols();
    IDoubleMatrix* histogram = ParameterValue<IDoubleMatrix>(ClassMatrix);
    // With no classes nothing is read, whatever the matrix's shape.
    if (classes > 0 && !HistogramFits(view_of(histogram), classes, rows, cols)) {
        NotifyError("%s", dimensions_message);
        return;
    }
    if (node >= 0 && has_class_information_) {
        const int32 value = TruncateToInt(class_value);
        if (std::isfinite(class_value) && value >= 1 && value <= classes) {
            AddClassCount(view_of(histogram), rows, value, node / cols, node % cols);
            NotifyParameterChanged(ClassMatrix);
        } else {
            NotifyWarning(class_range_message, class_value, classes);
        }
    }
    if (class_plane_->GetHeight() != rows || class_plane_->GetWidth() != cols) ShapeMatrix(class_plane_.get(), rows, cols);
    UpdateClassPlane(view_of(histogram), classes, rows, cols, IntValue(EnableUnpredictable), view_of(class_plane_.get()));
    if (node >= 0) {
        class_output_->SetValue(TruncateToInt(class_plane_->GetAt(node / cols, node % cols)));
        class_output_->SetTimeStamp(Now());
    }
}

// A map that did not change since its planes were added (a running map)
// keeps them: only the time stamp moves.
void CKohonenMap::PublishPlanes() {
    if (!planes_published_ || published_revision_ != map_.Revision()) {
        if (plane_buffer_->GetHeight() != map_.Rows() || plane_buffer_->GetWidth() != map_.Cols())
            ShapeMatrix(plane_buffer_.get(), map_.Rows(), map_.Cols());
        map_output_->Clear();
        char name[16];
        for (int32 i = 0; i < map_.PatternLength(); ++i) {
            MapToMatrix(plane_buffer_.get(), i, i);
            std::snprintf(name, sizeof name, "%d", i);
            map_output_->Add(name, plane_buffer_.get());
        }
        planes_published_ = true;
        published_revision_ = map_.Revision();
    }
    map_output_->SetTimeStamp(Now());
}

// The trained map goes into its parameter, so that it is saved with the
// patch.
void CKohonenMap::Done() {
    ready_ = false;
    plane_buffer_ = nullptr;
    class_plane_ = nullptr;
    MapToMatrix(ParameterValue<IDoubleMatrix>(Matrix), -1, -1);
}

// ---- actions ----------------------------------------------------------------

double CKohonenMap::RadiusValue() {
    return HasParameter(Radius) ? ParameterValue<IDouble>(Radius)->GetValue() : automatic_radius;
}

double CKohonenMap::LearningRateValue() {
    return HasParameter(LearningRate) ? ParameterValue<IDouble>(LearningRate)->GetValue() : automatic_learning_rate;
}

void CKohonenMap::SetStatus(int32 status) {
    ParameterValue<IInt>(Status)->SetValue(status);
    NotifyParameterChanged(Status);
}

void CKohonenMap::RebuildMap() {
    const int32 rows = IntValue(Rows), cols = IntValue(Cols);
    map_.CreateGrid(cols, rows, cols, rows, IntValue(Iterations), 0, IntValue(InputPatternLength));
}

void CKohonenMap::ResetMap() {
    RebuildMap();
    MapToMatrix(ParameterValue<IDoubleMatrix>(Matrix), -1, -1);
    NotifyParameterChanged(Matrix);
}

void CKohonenMap::ResetClasses() {
    ParameterValue<IDoubleMatrix>(ClassMatrix)->SetAll(0.0);
    NotifyParameterChanged(ClassMatrix);
}

void CKohonenMap::ResetISearch() {
    if (IntValue(InputPatternLength) != 4) NotifyError("%s", isearch_size_message);
    NotifyParameterChanged(Status);
    RebuildMap();
    map_.ApplyFourCornerPreset();
    MapToMatrix(ParameterValue<IDoubleMatrix>(Matrix), -1, -1);
}

void CKohonenMap::StartTraining() {
    SetStatus(training);
    map_.SetLearningRate(BoolValue(CustomParameters) ? LearningRateValue() : automatic_learning_rate);
    map_.RestartTraining(IntValue(Iterations), 0);
}

void CKohonenMap::StartRunning() {
    SetStatus(running);
    map_.StopTraining();
}

void CKohonenMap::ClampGridSize(const std::string& id) {
    IInt* size = ParameterValue<IInt>(id);
    const int32 clamped = std::clamp(size->GetValue(), smallest_grid, largest_grid);
    if (clamped == size->GetValue()) return;
    size->SetValue(clamped);
    NotifyParameterChanged(id);
}

void CKohonenMap::ShapeOutputs() {
    const int32 rows = IntValue(Rows), cols = IntValue(Cols);
    planes_published_ = false;
    if (map_output_) ShapeLabelledSet(map_output_.get(), rows, cols);
    if (plane_buffer_) ShapeMatrix(plane_buffer_.get(), rows, cols);
    if (class_plane_) ShapeMatrix(class_plane_.get(), rows, cols);
}

void CKohonenMap::FitParameterMatrices() {
    const int32 rows = IntValue(Rows), cols = IntValue(Cols);
    ResizeMatrixValue(ParameterValue<IDoubleMatrix>(Matrix), PlanesHeight(rows, IntValue(InputPatternLength)), cols);
    ResizeMatrixValue(ParameterValue<IDoubleMatrix>(ClassMatrix), PlanesHeight(rows, IntValue(Classes)), cols);
}

// Keeps the elements both shapes share.
void CKohonenMap::ResizeMatrixValue(IDoubleMatrix* matrix, int32 rows, int32 columns) {
    rows = std::max(rows, 0);
    columns = std::max(columns, 0);
    if (matrix->GetHeight() == rows && matrix->GetWidth() == columns) return;
    auto old = CSmartPtr<IDoubleMatrix>::adopt(Kernel()->CreateDatatype("kernel", "double-matrix"));
    old->CopyFrom(matrix);
    matrix->Reinit(rows, columns);
    const int32 kept_rows = std::min(rows, old->GetHeight()), kept_columns = std::min(columns, old->GetWidth());
    for (int32 r = 0; r < kept_rows; ++r)
        for (int32 c = 0; c < kept_columns; ++c) matrix->SetAt(r, c, old->GetAt(r, c));
}

void CKohonenMap::ChangeCustomParameters() {
    for (const char* id : {Radius, LearningRate})
        if (HasParameter(id)) RemoveParameter(id);
    NotifySignatureChanged();
    if (BoolValue(CustomParameters)) {
        Declare(custom_parameter_table);
        NotifyParameterChanged(Status);
        NotifySignatureChanged();
    }
    map_.ResetLearningRate();
}

void CKohonenMap::MapToMatrix(IDoubleMatrix* matrix, int32 first, int32 last) {
    if (Mrv::MapToMatrix(map_, view_of(matrix), first, last) == matrix_fit::mismatch)
        NotifyError("%s", dimensions_message);
}

void CKohonenMap::MatrixToMap(IDoubleMatrix* matrix) {
    if (Mrv::MatrixToMap(map_, view_of(matrix), -1, -1) == matrix_fit::mismatch) NotifyError("%s", dimensions_message);
}

block_class_registrant CKohonenMap::Registrant() {
    return block_class_registrant("kohonenmap")
        .language(1033)
        .name("KohonenMap")
        .description("This block trains a Kohonen Map (SOM, Self Organizing Map) and, given an input vector provides "
                     "both the map and the input classification as output.")
        .catalog_path("MachineLearning.KohonenMaps")
        .bitmap(261)
        .author("ennick")
        .licence("base_licence")
        .company("sonara")
        .factory(create_block<CKohonenMap>);
}

}  // namespace Mrv
