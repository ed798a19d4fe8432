#include "blocks/sequence/stabilizer.h"

#include "registration/factory.h"
#include "registration/registrant.h"

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

// The block's texts in the library's string table, by id.
const resources::string_entry input_value_name{106, "Input value"};
const resources::string_entry input_value_description{107, "Input value to the stabilizer"};
const resources::string_entry recognized_name{186, "Recognition"};
const resources::string_entry recognized_description{187, "True if the current value is recognized"};
const resources::string_entry output_value_name{180, "Output value"};
const resources::string_entry output_value_description{181, "Output value from the stabilizer"};
const resources::string_entry n_values_name{182, "Number of values"};
const resources::string_entry n_values_description{183, "Number of previous values the stabilizer takes into account"};
const resources::string_entry threshold_name{184, "Threshold"};
const resources::string_entry threshold_description{185, "Threshold for the stabilizer."};
const resources::string_entry not_rec_value_name{188, "Not recognized value"};
const resources::string_entry not_rec_value_description{189, "Value returned as output when the input is not recognized"};

const declaration signature_table[] = {
    input(InputValue, input_value_name, input_value_description, "double"),
    output(Recognized, recognized_name, recognized_description, "int"),
    output(OutputValue, output_value_name, output_value_description, "double"),
    // Not looked up when a saved patch is restored.
    output(Buffer, "Buffer", "Buffer", "double-matrix").unchecked(),
    output(MaxFreq, "MaxFreq", "Maximum frequency", "double").unchecked(),
    output(MaxFreqVal, "MaxFreqVal", "Value having maximum frequency", "double").unchecked(),
    parameter(NValues, n_values_name, n_values_description, "int").domain(int_domain().minimum(1, true)).initial_value(10),
    parameter(Threshold, threshold_name, threshold_description, "double")
        .domain(double_domain().minimum(0.0, true).maximum(100.0, true))
        .initial_value(80.0),
    parameter(NotRecValue, not_rec_value_name, not_rec_value_description, "double").initial_value(-1.0),
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

block_class_registrant CStabilizer::Registrant() {
    return block_class_registrant("Stabilizer")
        .language(1033)
        .name("Stabilizer")
        .description("This block stabilizes the output of a machine learning classifier.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(167)
        .language(1040)
        .name("Stabilizer")
        .description("Questo blocco stabilizza l'output di un classificatore.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(167)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CStabilizer>);
}

}  // namespace Mrv
