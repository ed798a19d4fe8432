// Scores one input value against N distributions (Gaussian bells and
// logistic sigmoids, each optionally flipped), one double output each.
//
// Choices where the behaviour was open:
// - A row whose type is neither 0 nor 1, or whose center or spread is not a
//   number, describes no distribution: its output is 0 (never the previous
//   row's value) and a warning names the row and its output. An infinite
//   center or spread scores by the formulas (a step, a flat bell).
// - A Gaussian with standard deviation 0 gives 1 at the center and 0
//   elsewhere; a negative one gives the bell of its absolute value. Both
//   are reported with a warning naming the row.
// - A NaN input leaves the outputs as they were, with a warning; infinite
//   inputs give the limits of the curves.
// - The parameters matrix must have one row per output and 4 columns when
//   the block is initialised; otherwise Init fails with a message.
// - A saved instance is restored by reading N from its saved parameter and
//   checking the "rarityoutput_i"... pins it saved; a saved declaration that
//   does not fit (another N, a missing pin, N outside 1..100) is declared
//   afresh and the saved values are re-applied, N first, then the matrix.
#pragma once

#include <string>
#include <vector>

#include "framework/block_base.h"

namespace Mrv {

class CProbabilisticClassifier : public CBlockImplBase<IBlock> {
public:
    // host thread, from the factory.
    explicit CProbabilisticClassifier(const CreationContext* context);

protected:
    void InitSignature() override;
    void DoneSignature() override;
    void CheckSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    void DeclareOutputs();
    void ReshapeMatrix();
    void ReportRow(int32 index, const double* row);
    void ReleasePins();

    CSmartPtr<IDouble> input_;
    std::string input_id_;
    std::vector<CSmartPtr<IDouble>> outputs_;
    std::vector<std::string> output_ids_;
    int32 count_;
};

}  // namespace Mrv
