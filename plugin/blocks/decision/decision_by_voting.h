// Buffers the successive values of a scalar input (typically the labels a
// classifier produces) and, when asked to generate, votes: the most
// frequent value or values as a row of answers, and how sure the vote is.
//
// Choices where the behaviour was open:
// - Generate asks the host for an execution, so the answer comes in the
//   next tick even when no new value arrives; with an empty buffer the
//   vote waits silently for the next value.
// - Every NaN input counts as one label, ordered below every number.
// - The number of answers is read at Init, with the output's shape, so a
//   later edit takes effect at the next Init.
// - NumberOfAnswers below 0 at Init (possible only from a hand-edited saved
//   patch, the editor's domain refuses it) counts as 0, as a matrix cannot
//   have fewer columns: a vote then gives only its certainty.
// - The vote trace shows each value truncated to an integer (clamped to the
//   range of int).
#pragma once

#include <string>

#include "blocks/decision/voting.h"
#include "framework/block_base.h"

// An exception in a lifecycle method is reported as a trace.
class CDecisionByVoting : public Mrv::CBlockImplBase<Mrv::IBlock> {
public:
    // The class's record in the catalog.
    static Mrv::block_class_registrant Registrant();
    explicit CDecisionByVoting(const Mrv::CreationContext* context);

protected:
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Stop() override;

private:
    void Vote();

    Mrv::input_pin<Mrv::IDouble> input_;
    Mrv::output_pin<Mrv::IDoubleMatrix> answers_;
    Mrv::output_pin<Mrv::IDouble> sure_;
    Mrv::parameter_handle<Mrv::IInt> maximum_dimension_;
    bool generate_pending_ = false;
    Mrv::voting::vote_buffer buffer_;
    Mrv::TimeStamp last_input_time_ = 0;
    Mrv::int32 answer_count_ = 1;
};
