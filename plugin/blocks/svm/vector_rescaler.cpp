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
    AddDrivingInput(InputVector, 1);
}

// host thread, from InitInstance on first declaration.
void CVectorRescaler::InitSignature() { Declare(signature_table); }

// host thread, from InitInstance when a saved patch is restored; a saved
// declaration that lacks a pin or has a bound of another type raises, and
// the base declares afresh.
void CVectorRescaler::CheckSignature() {
    FindInput(InputVector);
    FindOutput(OutputVector);
    ParameterValue<IDouble>(OutputHighBound);
    ParameterValue<IDouble>(OutputLowBound);
}

// host thread, any state: keeps the lower bound below the upper.
bool CVectorRescaler::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    return TraceExceptions(
        [&] {
            return BoundsStayOrdered(id, new_value, OutputLowBound, OutputHighBound, lower_above_upper_message,
                                     upper_below_lower_message);
        },
        false);
}

// host thread, after InitInstance and the connection of the pins.
bool CVectorRescaler::Init() {
    return TraceExceptions(
        [&] {
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
        },
        false);
}

// host thread, between Start and Stop, on every new input vector.
bool CVectorRescaler::Execute() {
    TraceExceptions(
        [&] {
            if (!input_ || !ranges_ || !output_) return true;
            if (input_->GetHeight() * input_->GetWidth() != count_ || ranges_->GetHeight() != count_ ||
                ranges_->GetWidth() != 2) {
                NotifyWarning("%s", shapes_changed_message);
                return true;
            }
            rescale::rescale_vector(input_->GetReadPointer(), ranges_->GetReadPointer(),
                                    static_cast<std::size_t>(count_), ParameterValue<IDouble>(OutputLowBound)->GetValue(),
                                    ParameterValue<IDouble>(OutputHighBound)->GetValue(), output_->GetWritePointer());
            output_->SetTimeStamp(Now());
            return true;
        },
        true);
    return true;
}

// host thread, after Stop (or a failed Init).
void CVectorRescaler::Done() { ReleasePins(); }

// host thread, at tear-down of the signature.
void CVectorRescaler::DoneSignature() { ReleasePins(); }

void CVectorRescaler::ReleasePins() {
    input_ = nullptr;
    ranges_ = nullptr;
    output_ = nullptr;
}

}  // namespace Mrv
