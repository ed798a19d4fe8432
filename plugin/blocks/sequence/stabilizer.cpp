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
    // Not looked up when a saved patch is restored.
    output(Buffer, "Buffer", "Buffer", "double-matrix").unchecked(),
    output(MaxFreq, "MaxFreq", "Maximum frequency", "double").unchecked(),
    output(MaxFreqVal, "MaxFreqVal", "Value having maximum frequency", "double").unchecked(),
    parameter(NValues, 182, 183, "int").domain(int_domain().minimum(1, true)).initial_value(10),
    parameter(Threshold, 184, 185, "double")
        .domain(double_domain().minimum(0.0, true).maximum(100.0, true))
        .initial_value(80.0),
    parameter(NotRecValue, 188, 189, "double").initial_value(-1.0),
};

}  // namespace

CStabilizer::CStabilizer(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, InputValue),
      recognized_(this, Recognized),
      output_value_(this, OutputValue),
      buffer_(this, Buffer),
      max_freq_(this, MaxFreq),
      max_freq_value_(this, MaxFreqVal),
      length_(this, NValues),
      threshold_(this, Threshold),
      not_recognized_(this, NotRecValue) {
    UseTable(signature_table);
    AddDrivingInput(InputValue, 1);
}

bool CStabilizer::Init() {
    const int32 length = length_->GetValue();
    if (length < 1) {
        NotifyError(no_window_message, length);
        return false;
    }
    window_ = std::make_unique<sequence::stabilizer_window>(static_cast<std::size_t>(length));
    ShapeMatrix(buffer_.get(), 1, length);
    return true;
}

// Once per new input value.
bool CStabilizer::Execute() {
    if (!window_ || !input_) return true;
    const sequence::stabilizer_window::peak peak = window_->push(input_->GetValue());
    const double not_recognized = not_recognized_->GetValue();
    const bool found = peak.index >= 0;
    const double peak_value = found ? (*window_)[static_cast<std::size_t>(peak.index)].value : not_recognized;
    // An unordered comparison (a NaN threshold) does not recognise.
    const bool recognised = found && peak.frequency >= threshold_->GetValue();
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

void CStabilizer::Done() { window_.reset(); }

}  // namespace Mrv
