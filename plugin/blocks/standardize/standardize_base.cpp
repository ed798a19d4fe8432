#include "blocks/standardize/standardize_base.h"

#include "blocks/standardize/statistics.h"

namespace Mrv {
namespace {

using namespace standardize_ids;

const char* const not_a_row_message =
    "The input feature vector should be a row vector, each column representing an attribute.\n";
const char* const feature_digits_shape_message =
    "The input feature vector and its vector of significant digits should have the same dimensions.\n";
const char* const training_columns_message =
    "The input feature vector and the input training set should have the same number of columns (attributes).\n";
const char* const digits_shape_message =
    "The input training set and its matrix of significant digits should have the same dimensions.\n";
// Shapes are read once at Init; a matrix re-shaped while running is not
// read past its end, and the output keeps its last value.
const char* const shapes_changed_message = "The input shapes changed after Init; the output is not updated.\n";

}  // namespace

declaration feature_vector_input() {
    return input(InFeatureVector, "Input feature vector",
                 "The feature vector to be standardized. It should be a row vector, each column representing an "
                 "attribute.",
                 "double-matrix");
}

declaration feature_vector_output() {
    return output(OutFeatureVector, "Output feature vector", "The standardized feature vector", "double-matrix");
}

declaration mode_parameter() {
    return parameter(Mode, "Round results to significant digits",
                     "Sets whether the block should take into account significant digits.", "bool")
        .attribute(AttrRunChange, false)
        .initial_value(false);
}

declaration feature_digits_input() {
    return input(SdFeatureVector, "Significant digits of the feature vector",
                 "A vector as big as the feature vectir, whose items are the nunber of significant digits of each "
                 "item of the feature vector.",
                 "int-matrix");
}

CStandardizeBase::CStandardizeBase(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::unhandled()),
      feature_(this, InFeatureVector),
      output_(this, OutFeatureVector),
      feature_digits_(this, SdFeatureVector, true),
      mode_(this, Mode) {
    AddDrivingInput(InFeatureVector, 1);
}

bool CStandardizeBase::CheckFeatureVector() {
    if (feature_->GetHeight() != 1) {
        NotifyError("%s", not_a_row_message);
        return false;
    }
    return true;
}

bool CStandardizeBase::CheckFeatureDigits() {
    if (feature_digits_->GetHeight() != feature_->GetHeight() || feature_digits_->GetWidth() != feature_->GetWidth()) {
        NotifyError("%s", feature_digits_shape_message);
        return false;
    }
    return true;
}

bool CStandardizeBase::CheckTrainingColumns(int32 columns) {
    if (columns == feature_->GetWidth()) return true;
    NotifyError("%s", training_columns_message);
    return false;
}

bool CStandardizeBase::CheckDigitsShape(int32 rows, int32 columns) {
    if (rows == training_rows_ && columns == columns_) return true;
    NotifyError("%s", digits_shape_message);
    return false;
}

void CStandardizeBase::PrepareOutput() {
    ShapeMatrix(output_.get(), 1, columns_);
    means_.assign(static_cast<std::size_t>(columns_), 0.0);
    variances_.assign(static_cast<std::size_t>(columns_), 0.0);
    column_digits_.assign(static_cast<std::size_t>(columns_), 0);
}

bool CStandardizeBase::ComputeStatistics(const IDoubleMatrix& training, const IIntMatrix* digits) {
    if (training.GetHeight() != training_rows_ || training.GetWidth() != columns_ ||
        (rounding_ && digits && digits->GetWidth() != columns_)) {
        NotifyWarning("%s", shapes_changed_message);
        return false;
    }
    standardize::column_statistics(training.GetReadPointer(), training_rows_, columns_, means_.data(),
                                   variances_.data());
    // Digits kept from before a reload may have another row count than the
    // training set: the maxima are taken over the rows they have.
    if (rounding_ && digits)
        standardize::column_maxima(digits->GetReadPointer(), digits->GetHeight(), columns_, column_digits_.data());
    return true;
}

void CStandardizeBase::StandardizeFeatures() {
    if (feature_->GetHeight() != 1 || feature_->GetWidth() != columns_ ||
        (rounding_ && (feature_digits_->GetHeight() != 1 || feature_digits_->GetWidth() != columns_))) {
        NotifyWarning("%s", shapes_changed_message);
        return;
    }
    standardize::standardize_row(feature_->GetReadPointer(), columns_, training_rows_, means_.data(),
                                 variances_.data(), rounding_ ? feature_digits_->GetReadPointer() : nullptr,
                                 column_digits_.data(), output_->GetWritePointer());
    output_->SetTimeStamp(Now());
}

bool CStandardizeBase::Declared(const declaration& row) {
    const std::string& id = row.descriptor.id;
    return row.kind == declaration_kind::parameter ? HasParameter(id) : HasInput(id);
}

void CStandardizeBase::Remove(const declaration& row) {
    if (!Declared(row)) return;
    if (row.kind == declaration_kind::parameter) RemoveParameter(row.descriptor.id);
    else RemoveInput(row.descriptor.id);
}

void CStandardizeBase::SwitchDigitPins(const declaration& training_digits) {
    const declaration feature_digits = feature_digits_input();
    if (mode_->GetValue()) {
        if (!Declared(feature_digits)) Declare(feature_digits);
        if (!Declared(training_digits)) Declare(training_digits);
    } else {
        Remove(feature_digits);
        Remove(training_digits);
    }
    NotifySignatureChanged();
}

block_class_registrant CStandardizeBase::Registrant(const char* class_id, block_factory factory) {
    return block_class_registrant(class_id)
        .language(1033)
        .name("Standardize")
        .description("This block standardizes the input feature vector.It computes mean and standard deviation of each "
                     "attribute in the provided training setand processes each item of the input feature vector by "
                     "subtracting the corresponding computed meanand by dividing by the corresponding computed "
                     "standard deviation.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(260)
        .author("halvard")
        .licence("base_licence")
        .company("sonara")
        .factory(std::move(factory));
}

}  // namespace Mrv
