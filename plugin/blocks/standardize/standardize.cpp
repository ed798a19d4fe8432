#include "blocks/standardize/standardize.h"

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

CStandardizeImpl::CStandardizeImpl(const CreationContext* context) : CStandardizeBase(context) {
    // A new training set drives an execution too; the digits do not.
    AddDrivingInput(TrainingSet, 1);
}

// host thread, from InitInstance on first declaration.
void CStandardizeImpl::InitSignature() { Declare(signature_table); }

// host thread, from InitInstance when a saved patch is restored; a saved
// declaration that lacks a pin or holds Mode as another type raises, and
// the base declares afresh.
void CStandardizeImpl::CheckSignature() {
    FindInput(InFeatureVector);
    FindInput(TrainingSet);
    FindOutput(OutFeatureVector);
    if (ParameterValue<IBool>(Mode)->GetValue()) {
        FindInput(SdFeatureVector);
        FindInput(SdTrainingSet);
    }
}

// host thread, design mode (Mode may not change while running).
void CStandardizeImpl::OnChangedParameter(const std::string& id) {
    if (id == Mode) SwitchDigitPins(training_digits_input());
}

// host thread, after InitInstance and the connection of the pins.
bool CStandardizeImpl::Init() {
    BindInput(training_, TrainingSet);
    if (!BindFeatureVector()) return false;
    training_rows_ = training_->GetHeight();
    columns_ = training_->GetWidth();
    if (!CheckTrainingColumns(columns_)) return false;
    const bool mode = ParameterValue<IBool>(Mode)->GetValue();
    if (mode) {
        if (!BindFeatureDigits()) return false;
        BindInput(training_digits_, SdTrainingSet);
        if (!CheckDigitsShape(training_digits_->GetHeight(), training_digits_->GetWidth())) return false;
    }
    PrepareOutput();
    training_pin_ = FindInput(TrainingSet);
    recompute_ = true;
    rounding_ = mode;
    return true;
}

// host thread, between Start and Stop, on every new feature vector or
// training set.
bool CStandardizeImpl::Execute() {
    if (!training_pin_ || !output_) return true;
    if (training_pin_->HasData() || recompute_) {
        // A training set of another shape is taken once its shape is back.
        recompute_ = !ComputeStatistics(*training_, training_digits_.get());
        if (recompute_) return true;
    }
    StandardizeFeatures();
    return true;
}

// host thread, after Stop (or a failed Init).
void CStandardizeImpl::Done() { ReleasePins(); }

// host thread, at tear-down of the signature.
void CStandardizeImpl::DoneSignature() { ReleasePins(); }

void CStandardizeImpl::ReleasePins() {
    ReleaseFeaturePins();
    training_pin_ = nullptr;
    training_ = nullptr;
    training_digits_ = nullptr;
}

}  // namespace Mrv
