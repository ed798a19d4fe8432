#include "blocks/decision/decision_by_voting.h"

#include <algorithm>

#include "registration/factory.h"
#include "registration/registrant.h"

using namespace Mrv;

namespace {

const char* const ResetId = "Reset";
const char* const AnswerCountId = "NumberOfAnswers";
const char* const GenerateId = "Generate";
const char* const MaximumDimensionId = "MaximumDimension";
const char* const InputId = "inputValue";
const char* const AnswersId = "OutputAnswers";
const char* const SureId = "AnswerIsSure";

const char* const size_trace = "size: %d\n";
const char* const labels_trace = "Labels: ";
const char* const label_trace = "%d ";
const char* const end_trace = "\n";

const declaration signature_table[] = {
    parameter(ResetId, "Reset", "Resets the block's buffers", "trigger").attribute(3, true).attribute(2, false),
    parameter(AnswerCountId, "Number of answers", "The number of answers that will be retrieved", "int")
        .initial_value(1)
        .domain(int_domain().minimum(1, true))
        .attribute(3, false),
    parameter(GenerateId, "Generate", "Generate the sequence", "trigger").attribute(2, false),
    parameter(MaximumDimensionId, "Maximum Dimension",
              "The maximum lenght of the sequence, set it to -1or 0 to not limit the sequence size", "int")
        .initial_value(-1)
        .domain(int_domain().minimum(-1, true)),
    input(InputId, "inputValue", "the input sequence", "double"),
    output(AnswersId, "OutputAnswers", "The generated answers", "double-matrix"),
    output(SureId, "OutputAnswerIsSure", "The certainty of the set of given answers", "double"),
};

}  // namespace

CDecisionByVoting::CDecisionByVoting(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, InputId),
      answers_(this, AnswersId),
      sure_(this, SureId),
      maximum_dimension_(this, MaximumDimensionId) {
    UseTable(signature_table);
    AddDrivingInput(InputId, 1);
}

// While running (both triggers are run-time only).
void CDecisionByVoting::OnChangedParameter(const std::string& id) {
    if (id == ResetId) {
        buffer_.clear();
    } else if (id == GenerateId) {
        generate_pending_ = true;
        RequestExecution();
    }
}

bool CDecisionByVoting::Init() {
    // Below 0 (only a hand-edited patch brings it) is no answers.
    answer_count_ = std::max<int32>(ParameterValue<IInt>(AnswerCountId)->GetValue(), 0);
    ShapeMatrix(answers_.get(), 1, answer_count_);
    generate_pending_ = false;
    last_input_time_ = 0;
    return true;
}

// On every new input value, and on the execution a Generate asked for.
bool CDecisionByVoting::Execute() {
    if (!input_) return true;
    const TimeStamp stamp = input_->GetTimeStamp();
    if (stamp != last_input_time_) {
        last_input_time_ = stamp;
        buffer_.push(input_->GetValue(), maximum_dimension_->GetValue());
    }
    if (generate_pending_ && !buffer_.empty()) {
        Vote();
        buffer_.clear();
        generate_pending_ = false;
    }
    return true;
}

void CDecisionByVoting::Vote() {
    NotifyTrace(size_trace, static_cast<int>(buffer_.size()));
    NotifyTrace("%s", labels_trace);
    for (const double value : buffer_.values()) NotifyTrace(label_trace, voting::trace_label(value));
    NotifyTrace("%s", end_trace);
    const voting::outcome result = voting::vote(buffer_.values(), static_cast<std::size_t>(answer_count_));
    const int32 columns = std::min(answers_->GetWidth(), answer_count_);
    for (int32 i = 0; i < columns && answers_->GetHeight() > 0; ++i)
        answers_->SetAt(0, i, result.answers[static_cast<std::size_t>(i)]);
    sure_->SetValue(result.certainty);
    const TimeStamp now = Now();
    sure_->SetTimeStamp(now);
    answers_->SetTimeStamp(now);
}

void CDecisionByVoting::Stop() { buffer_.clear(); }

Mrv::block_class_registrant CDecisionByVoting::Registrant() {
    return block_class_registrant("DecisionByVoting")
        .language(1033)
        .name("DecisionByVoting")
        .description("This block, given a sequence of values, will create an histogram")
        .catalog_path("MachineLearning.Tools")
        .bitmap(264)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CDecisionByVoting>);
}
