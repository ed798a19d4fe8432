#include "blocks/standardize/standardize.h"

#include "registration/factory.h"
#include "registration/registrant.h"


namespace Mrv {
namespace {

using namespace standardize_ids;
const char* const TrainingSet = "TrainingSet";
const char* const SdTrainingSet = "SdTrainingSet";

const declaration signature_table[] = {
    feature_vector_input(),
    input(TrainingSet, "Input training set",
          "The training set on which mean and standard deviation are computed. Each column represents an attribute, "
          "each row represents an instance.",
          "double-matrix"),
    feature_vector_output(),
    mode_parameter(),
};

// Declared while Mode is on, after SdFeatureVector.
declaration training_digits_input() {
    return input(SdTrainingSet, "Significant digits of the training set",
                 "A matrix as big as the training set, whose items are the nunber of significant digits of each item "
                 "of the training set.",
                 "int-matrix");
}

}  // namespace

CStandardizeImpl::CStandardizeImpl(const CreationContext* context)
    : CStandardizeBase(context), training_(this, TrainingSet), training_digits_(this, SdTrainingSet, true) {
    UseTable(signature_table);
    // A new training set drives an execution too; the digits do not.
    AddDrivingInput(TrainingSet, 1);
}

// The digit pins of a restored instance follow its saved Mode.
void CStandardizeImpl::CheckSignature() {
    if (mode_->GetValue()) {
        FindInput(SdFeatureVector);
        FindInput(SdTrainingSet);
    }
}

// Design mode only (Mode may not change while running).
void CStandardizeImpl::OnChangedParameter(const std::string& id) {
    if (id == Mode) SwitchDigitPins(training_digits_input());
}

bool CStandardizeImpl::Init() {
    if (!CheckFeatureVector()) return false;
    training_rows_ = training_->GetHeight();
    columns_ = training_->GetWidth();
    if (!CheckTrainingColumns(columns_)) return false;
    const bool mode = mode_->GetValue();
    if (mode) {
        if (!CheckFeatureDigits()) return false;
        if (!CheckDigitsShape(training_digits_->GetHeight(), training_digits_->GetWidth())) return false;
    }
    PrepareOutput();
    recompute_ = true;
    rounding_ = mode;
    return true;
}

// On every new feature vector or training set.
bool CStandardizeImpl::Execute() {
    if (!training_) return true;
    if (training_.HasData() || recompute_) {
        // A training set of another shape is taken once its shape is back.
        recompute_ = !ComputeStatistics(*training_, training_digits_.get());
        if (recompute_) return true;
    }
    StandardizeFeatures();
    return true;
}

block_class_registrant CStandardizeImpl::Registrant() {
    return CStandardizeBase::Registrant("Standardize", create_block<CStandardizeImpl>);
}

}  // namespace Mrv
