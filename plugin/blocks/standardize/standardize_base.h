// What Standardize and Standardize2 share: the feature-vector pins, the
// Mode parameter and its significant-digit pins, the Init checks of the
// feature vector, the statistics of the training set and the Execute that
// turns the features into z-scores. The two blocks differ only in where
// the training set comes from (a pin or a text file).
#pragma once

#include <vector>

#include "framework/block_base.h"
#include "registration/registrant.h"

namespace Mrv {

namespace standardize_ids {
constexpr const char* InFeatureVector = "InFeatureVector";
constexpr const char* OutFeatureVector = "OutFeatureVector";
constexpr const char* Mode = "Mode";
constexpr const char* SdFeatureVector = "SdFeatureVector";
}  // namespace standardize_ids

// Declaration rows both blocks list with the same texts.
declaration feature_vector_input();
declaration feature_vector_output();
declaration mode_parameter();
declaration feature_digits_input();

// Exceptions are not caught by these blocks: the wrapper reports them as
// unhandled.
class CStandardizeBase : public CBlockImplBase<IBlock> {
public:
    explicit CStandardizeBase(const CreationContext* context);
    // The catalog record both classes share; the class id tells them apart.
    static block_class_registrant Registrant(const char* class_id, block_factory factory);

protected:
    // Init: false, after the error message, when the feature vector is not
    // one row.
    bool CheckFeatureVector();
    // Init with Mode on: false, after the error message, when the feature
    // digits are not shaped like the feature vector.
    bool CheckFeatureDigits();
    // False, after the error message, when a training set of `columns`
    // columns does not fit the feature vector.
    bool CheckTrainingColumns(int32 columns);
    // False, after the error message, when a digits matrix is not shaped
    // like the training set in use.
    bool CheckDigitsShape(int32 rows, int32 columns);
    // Init: shapes the output (1 x columns) and zeroes the statistics;
    // training rows and columns must be set.
    void PrepareOutput();
    // Means, variances and, with rounding on and `digits` given, the column
    // digits. False, after a warning, when the training set is no longer
    // shaped as at Init.
    bool ComputeStatistics(const IDoubleMatrix& training, const IIntMatrix* digits);
    // Execute: writes and stamps the z-scores of the current features.
    void StandardizeFeatures();
    // Mode changed: adds or removes SdFeatureVector and the block's source
    // of training digits, then tells the host.
    void SwitchDigitPins(const declaration& training_digits);

    input_pin<IDoubleMatrix> feature_;
    output_pin<IDoubleMatrix> output_;
    input_pin<IIntMatrix> feature_digits_;  // while Mode is on
    parameter_handle<IBool> mode_;
    std::vector<double> means_, variances_;
    std::vector<int32> column_digits_;
    int32 training_rows_ = 0, columns_ = 0;
    bool rounding_ = false;

private:
    bool Declared(const declaration& row);
    void Remove(const declaration& row);
};

}  // namespace Mrv
