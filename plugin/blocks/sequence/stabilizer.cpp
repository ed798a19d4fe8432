#include "blocks/sequence/stabilizer.h"

namespace Mrv {
namespace {

const char* const InputValue = "InputValue";
const char* const Recognized = "Recognized";
const char* const OutputValue = "OutputValue";
const char* const Buffer = "buffer";
const char* const MaxFreq = "max_freq";
const char* const MaxFreqVal = "max_freq_val";
const char* const NValues = "NValues";
const char* const Threshold = "Threshold";
const char* const NotRecValue = "NotRecValue";

const char* const no_window_message = "Stabilizer: Number of values is %d; it must be at least 1.\n";

const declaration signature_table[] = {
    input(InputValue, 106, 107, "double"),
    output(Recognized, 186, 187, "int"),
    output(OutputValue, 180, 181, "double"),
    output(Buffer, "Buffer", "Buffer", "double-matrix"),
    output(MaxFreq, "MaxFreq", "Maximum frequency", "double"),
    output(MaxFreqVal, "MaxFreqVal", "Value having maximum frequency", "double"),
    parameter(NValues, 182, 183, "int").domain(int_domain().minimum(1, true)).initial_value(10),
    parameter(Threshold, 184, 185, "double")
        .domain(double_domain().minimum(0.0, true).maximum(100.0, true))
        .initial_value(80.0),
    parameter(NotRecValue, 188, 189, "double").initial_value(-1.0),
};

}  // namespace

CStabilizer::CStabilizer(const CreationContext* context) : CBlockImplBase(context) {
    AddDrivingInput(InputValue, 1);
}

// host thread, from InitInstance on first declaration.
void CStabilizer::InitSignature() { Declare(signature_table); }

// host thread, from InitInstance when a saved patch is restored; a missing
// pin or a parameter of another type raises, and the base declares afresh.
void CStabilizer::CheckSignature() {
    FindInput(InputValue);
    FindOutput(Recognized);
    FindOutput(OutputValue);
    ParameterValue<IInt>(NValues);
    ParameterValue<IDouble>(Threshold);
    ParameterValue<IDouble>(NotRecValue);
}

// host thread, after InitInstance and the connection of the pins.
bool CStabilizer::Init() {
    return TraceExceptions(
        [&] {
            BindInput(input_, InputValue);
            BindOutput(recognized_, Recognized);
            BindOutput(output_value_, OutputValue);
            BindOutput(buffer_, Buffer);
            BindOutput(max_freq_, MaxFreq);
            BindOutput(max_freq_value_, MaxFreqVal);
            const int32 length = ParameterValue<IInt>(NValues)->GetValue();
            if (length < 1) {
                NotifyError(no_window_message, length);
                return false;
            }
            window_ = std::make_unique<sequence::stabilizer_window>(static_cast<std::size_t>(length));
            ShapeMatrix(buffer_.get(), 1, length);
            return true;
        },
        false);
}

// host thread, between Start and Stop, once per new input value.
bool CStabilizer::Execute() {
    if (!window_ || !input_) return true;
    const sequence::stabilizer_window::peak peak = window_->push(input_->GetValue());
    const double not_recognized = ParameterValue<IDouble>(NotRecValue)->GetValue();
    const bool found = peak.index >= 0;
    const double peak_value = found ? (*window_)[static_cast<std::size_t>(peak.index)].value : not_recognized;
    // An unordered comparison (a NaN threshold) does not recognise.
    const bool recognised = found && peak.frequency >= ParameterValue<IDouble>(Threshold)->GetValue();
    recognized_->SetValue(recognised ? 1 : 0);
    output_value_->SetValue(recognised ? peak_value : not_recognized);

    const auto length = static_cast<int32>(window_->size());
    // The shape of Init, whatever the host did to the output since.
    if (buffer_->GetHeight() * buffer_->GetWidth() != length) ShapeMatrix(buffer_.get(), 1, length);
    double* cells = buffer_->GetWritePointer();
    for (std::size_t i = 0; i < window_->size(); ++i) cells[i] = (*window_)[i].value;
    max_freq_->SetValue(peak.frequency);
    max_freq_value_->SetValue(peak_value);

    const TimeStamp now = Now();
    recognized_->SetTimeStamp(now);
    output_value_->SetTimeStamp(now);
    buffer_->SetTimeStamp(now);
    max_freq_->SetTimeStamp(now);
    max_freq_value_->SetTimeStamp(now);
    return true;
}

// host thread, after Stop (or a failed Init).
void CStabilizer::Done() { ReleasePins(); }

// host thread, at tear-down of the signature.
void CStabilizer::DoneSignature() { ReleasePins(); }

void CStabilizer::ReleasePins() {
    input_ = nullptr;
    recognized_ = nullptr;
    output_value_ = nullptr;
    buffer_ = nullptr;
    max_freq_ = nullptr;
    max_freq_value_ = nullptr;
    window_.reset();
}

}  // namespace Mrv
