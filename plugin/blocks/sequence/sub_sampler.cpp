#include "blocks/sequence/sub_sampler.h"

#include <algorithm>

#include "blocks/sequence/subsample.h"

using namespace Mrv;

namespace {

const char* const Reset = "Reset";
const char* const NumberOfSamples = "Number Of Samples";
const char* const GenerateTrigger = "Generate";
const char* const ResetOnGeneration = "ResetOnGeneration";
const char* const SamplingMode = "SamplingMode";
const char* const MaximumDimension = "Maximum Dimension";
const char* const inputValue = "inputValue";
const char* const OutputSequence = "OutputSequence";

const char* const sampling_modes[] = {"Mean", "Variance", "Min", "Max", "Sample"};
constexpr int32 sampling_mode_count = 5;

// Raised by CheckSignature: the base then declares afresh and carries over
// the saved values that still fit.
const char* const reset_signature_message = "Reset signature";

// Temporal-data fields of the output: the first field and the value range
// belong to the host and are set, never read.
constexpr double output_first_field = 30.0;
constexpr double output_range = 1.0e12;

const declaration signature_table[] = {
    parameter(Reset, "Reset", "Resets the block's buffers", "trigger").attribute(2, false),
    parameter(NumberOfSamples, "Number Of Samples", "The number of samples tha will be produced", "int")
        .initial_value(25),
    parameter(GenerateTrigger, "Generate", "Generate the sequence", "trigger"),
    parameter(ResetOnGeneration, "Reset On Generation",
              "Rsed to tell the block if it has to resets the block's buffers after the generation of an histrogram",
              "bool")
        .initial_value(true),
    parameter(SamplingMode, "Sampling Mode", "The sampling modality", "int")
        .initial_value(0)
        .layout(combo_layout{{std::begin(sampling_modes), std::end(sampling_modes)}}),
    parameter(MaximumDimension, "Maximum Dimension", "The maximum lenght of the sequence", "int").initial_value(-1),
    input(inputValue, "inputValue", "the input sequence", "double"),
    output(OutputSequence, "OutputSequence", "The subsampled sequence", "temporal_data").catalog("base"),
};

}  // namespace

CSubSampler::CSubSampler(const CreationContext* context) : CBlockImplBase(context) {
    AddDrivingInput(inputValue, 1);
}

// host thread, from InitInstance on first declaration.
void CSubSampler::InitSignature() { Declare(signature_table); }

// host thread, from InitInstance when a saved patch is restored; a saved
// instance with another list of sampling modes gets the current
// declarations through the base's fallback.
void CSubSampler::CheckSignature() {
    ParameterValue<IInt>(SamplingMode);
    ParameterValue<IInt>(NumberOfSamples);
    ParameterValue<ITrigger>(GenerateTrigger);
    ParameterValue<IInt>(MaximumDimension);
    ParameterValue<IBool>(ResetOnGeneration);
    ParameterValue<ITrigger>(Reset);
    FindInput(inputValue);
    FindOutput(OutputSequence);
    auto* modes = interface_cast<IComboDatatypeLayout>(GetLayout()->GetLayout(SamplingMode));
    if (modes == nullptr || modes->GetItemCount() != sampling_mode_count)
        throw CLogicExceptionImpl(reset_signature_message);
}

// host thread, after a parameter change was applied, in any state.
void CSubSampler::OnChangedParameter(const std::string& id) {
    if (id == Reset) {
        buffer_.clear();
    } else if (id == GenerateTrigger) {
        generate_requested_ = true;
        RequestExecution();
    }
}

// host thread, after InitInstance and the connection of the pins. The
// buffer survives Done and Init.
bool CSubSampler::Init() {
    return TraceExceptions(
        [&] {
            BindInput(input_, inputValue);
            BindOutput(output_, OutputSequence);
            samples_ = ParameterValue<IInt>(NumberOfSamples)->GetValue();
            ShapeTemporalData(output_.get(), std::max<int32>(samples_, 0), 1, output_first_field, -output_range,
                              output_range);
            generate_requested_ = false;
            buffer_.restart_times();
            return true;
        },
        false);
}

// host thread, between Start and Stop, on a new input or an execution the
// Generate trigger asked for.
bool CSubSampler::Execute() {
    if (!input_ || !output_) return true;
    if (generate_requested_) Generate();
    else buffer_.take(input_->GetTimeStamp(), input_->GetValue(), ParameterValue<IInt>(MaximumDimension)->GetValue());
    return true;
}

// host thread, after Stop (or a failed Init); the buffer is kept.
void CSubSampler::Done() { ReleasePins(); }

// host thread, at tear-down of the signature.
void CSubSampler::DoneSignature() { ReleasePins(); }

void CSubSampler::Generate() {
    generate_requested_ = false;
    const int32 samples = std::max<int32>(samples_, 0);
    // The shape of Init, whatever the host did to the output since.
    if (output_->GetSampleCount() != samples || output_->GetChannelCount() < 1)
        ShapeTemporalData(output_.get(), samples, 1, output_first_field, -output_range, output_range);
    if (samples > 0)
        sequence::subsample(buffer_.data(), buffer_.size(), static_cast<std::size_t>(samples),
                            ParameterValue<IInt>(SamplingMode)->GetValue(), output_->GetChannel(0));
    output_->SetTimeStamp(Now());
    if (ParameterValue<IBool>(ResetOnGeneration)->GetValue()) buffer_.clear();
}

void CSubSampler::ReleasePins() {
    input_ = nullptr;
    output_ = nullptr;
}
