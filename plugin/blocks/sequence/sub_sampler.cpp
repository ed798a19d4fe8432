#include "blocks/sequence/sub_sampler.h"

#include <algorithm>

#include "blocks/sequence/subsample.h"
#include "registration/factory.h"
#include "registration/registrant.h"

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

CSubSampler::CSubSampler(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, inputValue),
      output_(this, OutputSequence),
      maximum_dimension_(this, MaximumDimension),
      mode_(this, SamplingMode),
      reset_on_generation_(this, ResetOnGeneration) {
    UseTable(signature_table);
    AddDrivingInput(inputValue, 1);
}

// An instance saved with another list of sampling modes is declared afresh.
void CSubSampler::CheckSignature() {
    auto* modes = interface_cast<IComboDatatypeLayout>(GetLayout()->GetLayout(SamplingMode));
    if (modes == nullptr || modes->GetItemCount() != sampling_mode_count)
        throw CLogicExceptionImpl(reset_signature_message);
}

void CSubSampler::OnChangedParameter(const std::string& id) {
    if (id == Reset) {
        buffer_.clear();
    } else if (id == GenerateTrigger) {
        generate_requested_ = true;
        RequestExecution();
    }
}

// The buffer survives Done and Init.
bool CSubSampler::Init() {
    samples_ = ParameterValue<IInt>(NumberOfSamples)->GetValue();
    ShapeTemporalData(output_.get(), std::max<int32>(samples_, 0), 1, output_first_field, -output_range,
                      output_range);
    generate_requested_ = false;
    buffer_.restart_times();
    return true;
}

// On a new input, or an execution the Generate trigger asked for.
bool CSubSampler::Execute() {
    if (!input_) return true;
    if (generate_requested_) Generate();
    else buffer_.take(input_->GetTimeStamp(), input_->GetValue(), maximum_dimension_->GetValue());
    return true;
}

void CSubSampler::Generate() {
    generate_requested_ = false;
    const int32 samples = std::max<int32>(samples_, 0);
    // The shape of Init, whatever the host did to the output since.
    if (output_->GetSampleCount() != samples || output_->GetChannelCount() < 1)
        ShapeTemporalData(output_.get(), samples, 1, output_first_field, -output_range, output_range);
    if (samples > 0)
        sequence::subsample(buffer_.data(), buffer_.size(), static_cast<std::size_t>(samples),
                            mode_->GetValue(), output_->GetChannel(0));
    output_->SetTimeStamp(Now());
    if (reset_on_generation_->GetValue()) buffer_.clear();
}

Mrv::block_class_registrant CSubSampler::Registrant() {
    return block_class_registrant("SubSampler")
        .language(1033)
        .name("SubSampler")
        .description("This block, given a sequence of values, will subsample it in N samples equispatially divided")
        .catalog_path("MachineLearning.Tools")
        .bitmap(262)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CSubSampler>);
}
