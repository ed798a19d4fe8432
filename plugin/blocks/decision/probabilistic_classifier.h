// Scores one input value against N distributions (Gaussian bells and
// logistic sigmoids, each optionally flipped), one double output each.
//
// Choices where the behaviour was open:
// - A row whose type is neither 0 nor 1 describes no distribution: its
//   output is 0, never the previous row's value. Every other row, and every
//   input, is computed as read: NaN, infinities and a standard deviation
//   of 0 give what the formulas give.
// - The parameters matrix must have one row per output and 4 columns when
//   the block is initialised; otherwise Init fails with a message, as
//   each execution would read past the matrix.
// - A saved instance is restored by reading N from its saved parameter and
//   checking the "rarityoutput_i"... pins it saved; a saved declaration that
//   does not fit (another N, a missing pin, N outside 1..100) is declared
//   afresh and the saved values are re-applied, N first, then the matrix.
#pragma once

#include <string>
#include <vector>

#include "framework/block_base.h"

namespace Mrv {

// An exception in a lifecycle method or a parameter change is reported as
// an error.
class CProbabilisticClassifier : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CProbabilisticClassifier(const CreationContext* context);

protected:
    void InitSignature() override;
    void CheckSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;

private:
    void DeclareOutputs();
    void ReshapeMatrix();

    input_pin<IDouble> input_;
    output_pins<IDouble> outputs_;
    parameter_handle<IDoubleMatrix> matrix_;
    int32 count_;
};

}  // namespace Mrv
