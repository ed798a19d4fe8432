// Collects the scalar values of a sequence and, on Generate, reduces them
// to `Number Of Samples` samples (the mean, variance, minimum, maximum or
// first value of equal segments spread evenly over the buffer), published
// as one channel of temporal data.
//
// Choices where the behaviour is otherwise open:
// - `Number Of Samples` 0 produces no samples, as a negative value does:
//   the output has none, yet each generation stamps it and, with
//   ResetOnGeneration, empties the buffer.
// - The output is shaped with the N read at Init and every generation
//   uses that N: a value changed while running takes effect at the next
//   Init and is never used to read or write past the buffer or the output.
// - `Maximum Dimension` bounds the buffer as in HistGenerator: 0 or more
//   keeps that many of the most recent values, -1 (the default) keeps all.
// - The input is not read in an execution that generates; a value that
//   arrived then is taken at the next execution unless a newer one
//   replaced it.
#pragma once

#include "blocks/sequence/sequence_buffer.h"
#include "framework/block_base.h"

// An exception in a lifecycle method is reported as a trace.
class CSubSampler : public Mrv::CBlockImplBase<Mrv::IBlock> {
public:
    // The class's record in the catalog.
    static Mrv::block_class_registrant Registrant();
    explicit CSubSampler(const Mrv::CreationContext* context);

protected:
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;

private:
    void Generate();

    Mrv::input_pin<Mrv::IDouble> input_;
    Mrv::output_pin<Mrv::ITemporalData> output_;
    Mrv::parameter_handle<Mrv::IInt> maximum_dimension_, mode_;
    Mrv::parameter_handle<Mrv::IBool> reset_on_generation_;
    Mrv::int32 samples_ = 0;  // N of Init
    bool generate_requested_ = false;
    Mrv::sequence::sequence_buffer buffer_;
};
