#include "blocks/svm/vector_rescaler.h"

#include "blocks/svm/rescale.h"

namespace Mrv {
namespace {

const char* const InputVector = "InputVector";
const char* const InputRanges = "InputRanges";
const char* const OutputVector = "OutputVector";
const char* const OutputLowBound = "OutputLowBound";
const char* const OutputHighBound = "OutputHighBound";

const char* const lower_above_upper_message =
    "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old values will be kept.\n";
const char* const upper_below_lower_message =
    "CVectorRescaler::OnChangingParameter -- The upper bound is lower than the lower bound. The old values will be kept.\n";
const char* const not_a_vector_message =
    "CVectorRescaler::Init -- A vector should be provided as input, not a mtrix.\n";
const char* const ranges_shape_message = "CVectorRescaler::Init -- Ranges should be provided as a (%dx2) matrix.\n";
// Shapes are fixed at Init; a host that re-shapes an input while running
// gets this instead of reads past the data.
const char* const shapes_changed_message =
    "CVectorRescaler::Execute -- The input shapes changed after Init; the output is not updated.\n";

const declaration signature_table[] = {
    input(InputVector, 157, 161, "double-matrix").required(),
    input(InputRanges, 162, 163, "double-matrix").required(),
    output(OutputVector, 164, 165, "double-matrix"),
    parameter(OutputLowBound, 174, 175, "double").initial_value(-1.0),
    parameter(OutputHighBound, 176, 177, "double").initial_value(1.0),
};

}  // namespace

CVectorRescaler::CVectorRescaler(const CreationContext* context) : CBlockImplBase(context) {
    // The ranges change rarely: only a new vector drives execution.
    SetExecutionSetting(1);
    AddDrivingInput(InputVector, 1);
}

// host thread, from InitInstance on first declaration.
void CVectorRescaler::InitSignature() {
    Declare(signature_table);
    BindSignature();
}

// host thread, from InitInstance when a saved patch is restored.
void CVectorRescaler::CheckSignature() { BindSignature(); }

void CVectorRescaler::BindSignature() {
    input_pin_ = FindInput(InputVector);
    output_pin_ = FindOutput(OutputVector);
    BindParameter(high_bound_, OutputHighBound);
    BindParameter(low_bound_, OutputLowBound);
}

// host thread, design or run mode: keeps the lower bound below the upper.
bool CVectorRescaler::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    try {
        if (id == OutputLowBound) {
            if (CSmartPtr<IDouble>(new_value)->GetValue() >= high_bound_->GetValue()) {
                NotifyError("%s", lower_above_upper_message);
                return false;
            }
        } else if (id == OutputHighBound) {
            if (low_bound_->GetValue() >= CSmartPtr<IDouble>(new_value)->GetValue()) {
                NotifyError("%s", upper_below_lower_message);
                return false;
            }
        }
        return true;
    } catch (const IException& error) {
        NotifyTrace("%s", error.GetDescription());
        return false;
    }
}

// host thread, after the pins are connected.
bool CVectorRescaler::Init() {
    try {
        // Done released the parameters: a restarted patch binds them again.
        if (!low_bound_ || !high_bound_) BindSignature();
        BindInput(input_, InputVector);
        const int32 rows = input_->GetHeight(), columns = input_->GetWidth();
        if (rows != 1 && columns != 1) {
            NotifyError("%s", not_a_vector_message);
            return false;
        }
        count_ = rows * columns;
        BindInput(ranges_, InputRanges);
        if (ranges_->GetHeight() != count_ || ranges_->GetWidth() != 2) {
            NotifyError(ranges_shape_message, count_);
            return false;
        }
        BindOutput(output_, OutputVector);
        ShapeMatrix(output_.get(), rows, columns);
        return true;
    } catch (const IException& error) {
        NotifyTrace("%s", error.GetDescription());
        return false;
    }
}

// host thread, on every new input vector.
bool CVectorRescaler::Execute() {
    try {
        if (!input_ || !ranges_ || !output_) return true;
        if (input_->GetHeight() * input_->GetWidth() != count_ || ranges_->GetHeight() != count_ ||
            ranges_->GetWidth() != 2) {
            NotifyWarning("%s", shapes_changed_message);
            return true;
        }
        rescale::rescale_vector(input_->GetReadPointer(), ranges_->GetReadPointer(),
                                static_cast<std::size_t>(count_), low_bound_->GetValue(), high_bound_->GetValue(),
                                output_->GetWritePointer());
        output_->SetTimeStamp(Now());
    } catch (const IException& error) {
        NotifyTrace("%s", error.GetDescription());
    }
    return true;
}

// host thread, after Stop.
void CVectorRescaler::Done() { ReleaseHandles(); }

// host thread, at tear-down of the signature.
void CVectorRescaler::DoneSignature() { ReleaseHandles(); }

void CVectorRescaler::ReleaseHandles() {
    input_pin_ = nullptr;
    output_pin_ = nullptr;
    input_ = nullptr;
    ranges_ = nullptr;
    output_ = nullptr;
    low_bound_ = nullptr;
    high_bound_ = nullptr;
}

}  // namespace Mrv
