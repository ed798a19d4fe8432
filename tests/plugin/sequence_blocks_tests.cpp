// The blocks that take one double a tick, through the dlopen'ed plug-in:
// HistGenerator, SubSampler, DecisionByVoting and Stabilizer. Buffering,
// triggers, outputs and restores (the counting, reductions, votes and
// windows are the algorithm tests').
#include <gtest/gtest.h>

#include <cmath>

#include "plugin/block_test.h"

namespace {

using Values = std::vector<double>;

class SequenceBlock : public BlockTest {
protected:
    SequenceBlock(const char* class_id, const char* input) : BlockTest(class_id), input_(input) {}

    // Declared, int parameters set in design mode, then Init..Start.
    void prepare(std::initializer_list<std::pair<const char*, int>> ints, bool running = false) {
        make();
        for (const auto& [id, value] : ints) ASSERT_TRUE(harness->set_int(id, value));
        start(running);
    }
    void start(bool running) {
        harness->source(input_);  // linked, no value yet
        ASSERT_TRUE(harness->begin());
        harness->set_running(running);
    }
    void feed_all(const Values& values) { BlockTest::feed_all(input_, values); }
    void generate() { fire_and_tick("Generate"); }
    bool now(const char* output_id) { return harness->output_time(output_id) == harness->clock().GetCurrentTime(); }

private:
    const char* input_;
};

class HistGenerator : public SequenceBlock {
protected:
    HistGenerator() : SequenceBlock("HistGenerator", "inputValue") {}
    Values histogram(int index) { return harness->output_values("Histogram_" + std::to_string(index)); }
};

TEST_F(HistGenerator, CountsSegmentsIntoTheirOwnHistograms) {
    prepare({{"NumberOfHistograms", 3}, {"NumberOfBins", 2}}, true);
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{0.25, 0.75}));
    feed_all({0.1, 0.1, 0.9, 0.9, 0.9});
    generate();
    EXPECT_EQ(histogram(0), (Values{2, 0}));
    EXPECT_EQ(histogram(1), (Values{0, 2}));
    EXPECT_EQ(histogram(2), (Values{0, 1}));
    for (const char* id : {"Histogram_0", "Histogram_2", "OutputBinCenters"}) EXPECT_TRUE(now(id)) << id;
    // ResetOnGeneration: the next histogram counts only what came since.
    feed_all({0.9});
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1}));
    EXPECT_EQ(histogram(2), (Values{0, 0}));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(HistGenerator, GenerateWaitsForAValue) {
    prepare({{"MaximumDimension", 0}}, true);
    // Dimension 0 keeps the buffer empty: Generate never produces.
    generate();
    feed_all({0.5});
    EXPECT_EQ(harness->output_time("Histogram_0"), 0);
    ASSERT_TRUE(harness->set_int("MaximumDimension", -1));
    // Still pending: the first execution with a value produces it.
    feed_all({0.5});
    EXPECT_EQ(histogram(0)[12], 1.0);
    EXPECT_TRUE(now("Histogram_0"));
}

TEST_F(HistGenerator, BufferKeepsTheLastValuesAndResets) {
    prepare({{"MaximumDimension", 3}, {"NumberOfBins", 4}}, true);
    ASSERT_TRUE(harness->set_bool("ResetOnGeneration", false));
    feed_all({0.1, 0.1, 0.9, 0.6});
    ASSERT_TRUE(harness->execute());  // the same time stamp: taken once
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 0, 1, 1}));
    feed_all({0.6});  // without reset on generation, counted again
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 2, 1}));
    ASSERT_TRUE(harness->fire("Reset"));
    feed_all({0.3});
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1, 0, 0}));
    harness->stop();  // so does Stop
    ASSERT_TRUE(harness->start());
    feed_all({0.8});
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 0, 1}));
}

// Range and normalisation edited while running apply at once.
TEST_F(HistGenerator, RangeEditedWhileRunningMovesTheCentres) {
    prepare({{"NumberOfBins", 2}}, true);
    ASSERT_TRUE(harness->set_double("MaxValue", 4.0));
    ASSERT_TRUE(harness->set_bool("Normalize", true));
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{1, 3}));
    feed_all({0.5, 0.7, 3.5});
    generate();
    EXPECT_EQ(histogram(0), (Values{1 / 3.0, 1 / 6.0}));  // counts 2, 1 over their sum times the width
    // In design mode the centres wait for the next Init.
    harness->set_running(false);
    ASSERT_TRUE(harness->set_double("MinValue", 2.0));
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{1, 3}));
    harness->set_running(true);
    EXPECT_FALSE(harness->set_int("NumberOfBins", 5));  // the bins of Init are kept
}

TEST_F(HistGenerator, HistogramOutputsFollowTheirNumber) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 3));
    EXPECT_EQ(output_ids().back(), "Histogram_2");
    EXPECT_EQ(signature_changes(), 1);
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 2));  // the highest go first
    EXPECT_EQ(output_ids().back(), "Histogram_1");
    EXPECT_EQ(signature_changes(), 2);

    // A saved instance that lost an output is declared again with its values.
    ASSERT_TRUE(h.set_int("NumberOfBins", 5));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    saved->outputs().remove("Histogram_1");
    restore(*saved);
    EXPECT_EQ(harness->parameter_int("NumberOfBins"), 5);
    EXPECT_NE(harness->signature().find_output("Histogram_1"), nullptr);
}

class SubSampler : public SequenceBlock {
protected:
    SubSampler() : SequenceBlock("SubSampler", "inputValue") {}
    Mrv::ITemporalData* sequence() {
        return Mrv::interface_cast<Mrv::ITemporalData>(harness->output("OutputSequence"));
    }
    Values samples() {
        const double* first = sequence()->GetChannel(0);
        return Values(first, first + sequence()->GetSampleCount());
    }
};

TEST_F(SubSampler, GeneratesTheChosenReductionAndResetsItsBuffer) {
    prepare({{"Number Of Samples", 3}, {"SamplingMode", 3}});  // "Max"
    EXPECT_EQ(sequence()->GetChannelCount(), 1);
    feed_all({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    generate();
    EXPECT_EQ(samples(), (Values{2, 5, 9}));
    EXPECT_TRUE(now("OutputSequence"));
    generate();  // the generation emptied the buffer
    EXPECT_EQ(samples(), (Values{0, 0, 0}));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(SubSampler, BufferOutlivesDoneAndResetEmptiesIt) {
    prepare({{"Number Of Samples", 2}, {"SamplingMode", 4}});
    ASSERT_TRUE(harness->set_bool("ResetOnGeneration", false));
    ASSERT_TRUE(harness->set_int("Maximum Dimension", 3));
    feed_all({4, 5, 6});
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    feed_all({7});  // the dimension drops the oldest
    generate();
    EXPECT_EQ(samples(), (Values{5, 6}));
    generate();
    EXPECT_EQ(samples(), (Values{5, 6}));  // kept without reset on generation
    harness->set_running(true);
    ASSERT_TRUE(harness->fire("Reset"));
    generate();
    EXPECT_EQ(samples(), (Values{0, 0}));
}

// No samples for N <= 0, yet each generation stamps the output and empties
// the buffer; the sample count of Init holds until the next Init.
TEST_F(SubSampler, SampleCountsBelowOneGenerateNoSamples) {
    for (int count : {0, -4}) {
        SCOPED_TRACE(count);
        prepare({{"Number Of Samples", count}, {"SamplingMode", 0}});
        feed_all({1, 2});
        generate();
        EXPECT_EQ(sequence()->GetSampleCount(), 0);
        EXPECT_TRUE(now("OutputSequence"));
        ASSERT_TRUE(harness->set_int("Number Of Samples", 1));
        EXPECT_EQ(sequence()->GetSampleCount(), 0);
        harness->stop();
        harness->done();
        ASSERT_TRUE(harness->begin());
        feed_all({7});
        generate();
        EXPECT_EQ(samples(), Values{7});
        EXPECT_TRUE(harness->messages().empty());
    }
}

TEST_F(SubSampler, SavedInstanceWithOtherModesIsDeclaredAgain) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("Number Of Samples", 7));
    ASSERT_TRUE(h.set_int("SamplingMode", 3));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    mrvhost::Ref<mrvhost::Layout> layout = mrvhost::Layout::create();
    Mrv::interface_cast<Mrv::IComboDatatypeLayout>(layout->SetLayout("SamplingMode", "kernel", "combo"))
        ->SetItemCount(4);
    restore(*saved, layout.get());
    EXPECT_EQ(harness->messages(Mrv::LevelFatal),
              std::vector<std::string>{"Block block: unhandled exception of type Mrv::IException in method "
                                       "InitInstance; exception message is Reset signature\n"});
    EXPECT_EQ(Mrv::interface_cast<Mrv::IComboDatatypeLayout>(harness->layout().GetLayout("SamplingMode"))
                  ->GetItemCount(),
              5);
    EXPECT_EQ(harness->parameter_int("Number Of Samples"), 7);
    EXPECT_EQ(harness->parameter_int("SamplingMode"), 3);
}

class DecisionByVoting : public SequenceBlock {
protected:
    DecisionByVoting() : SequenceBlock("DecisionByVoting", "inputValue") {}
    void prepare(int answers, int maximum = -1) {
        SequenceBlock::prepare({{"NumberOfAnswers", answers}, {"MaximumDimension", maximum}}, true);
    }
    // Fires Generate and serves the one execution it asks for.
    void generate() {
        ASSERT_TRUE(harness->fire("Generate"));
        EXPECT_EQ(harness->run_requested(), 1);
    }
    Values answers() { return harness->output_values("OutputAnswers"); }
    double sure() { return harness->output_double("AnswerIsSure"); }
};

TEST_F(DecisionByVoting, GenerateVotesInTheNextTickAndTracesTheBuffer) {
    prepare(3);
    feed_all({3, 2, NAN, INFINITY, 2});
    harness->clear_notifications();
    generate();
    EXPECT_EQ(answers(), (Values{2, 2, 2}));
    EXPECT_EQ(sure(), 1.0);
    for (const char* id : {"AnswerIsSure", "OutputAnswers"}) EXPECT_TRUE(now(id)) << id;
    // Newest first; the repeated "2 " of the same tick is said once.
    EXPECT_EQ(harness->messages(Mrv::LevelTrace),
              (std::vector<std::string>{"size: 5\n", "Labels: ", "2 ", "2147483647 ", "0 ", "3 ", "\n"}));
    EXPECT_EQ(harness->messages().size(), 7u);
    // The vote emptied the buffer; a limit drops the oldest.
    ASSERT_TRUE(harness->set_int("MaximumDimension", 2));
    feed_all({3, 1, 1});
    generate();
    EXPECT_EQ(answers(), (Values{1, 1, 1}));
}

TEST_F(DecisionByVoting, GenerateOnAnEmptyBufferWaitsForTheNextValue) {
    prepare(2);
    generate();
    EXPECT_EQ(harness->output_time("AnswerIsSure"), 0);
    EXPECT_TRUE(harness->messages().empty());
    EXPECT_FALSE(harness->status().execution_request().pending());
    feed_all({7});
    EXPECT_EQ(answers(), (Values{7, 7}));
}

// Stop empties the buffer; the answers take the count set before Init.
TEST_F(DecisionByVoting, OnlyNewValuesAreBufferedUntilResetOrStop) {
    prepare(3);
    feed_all({4});
    ASSERT_TRUE(harness->execute());  // same time stamp: nothing new
    ASSERT_TRUE(harness->tick());
    feed_all({4, 5});
    generate();
    EXPECT_EQ(answers(), (Values{4, 4, 4}));  // 4 twice, 5 once
    feed_all({1, 1, 1});
    ASSERT_TRUE(harness->fire("Reset"));
    feed_all({2});
    generate();
    EXPECT_EQ(answers(), (Values{2, 2, 2}));
    feed_all({3, 3});
    harness->stop();
    harness->done();
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("NumberOfAnswers", 4));
    start(true);
    feed_all({4});
    generate();
    EXPECT_EQ(answers(), (Values{4, 4, 4, 4}));
}

// NumberOfAnswers below 1 can only come from a hand-edited saved patch: a
// vote then has no answers to give, only its certainty.
TEST_F(DecisionByVoting, NoAnswersFromASavedPatchGiveOnlyTheCertainty) {
    restore_edited("NumberOfAnswers", 0);
    start(true);
    feed_all({1, 2});
    generate();
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(sure(), 0.0);
    EXPECT_TRUE(now("AnswerIsSure"));
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

// Recognized, OutputValue, max_freq and max_freq_val after one input.
using Outputs = std::vector<double>;

class Stabilizer : public SequenceBlock {
protected:
    Stabilizer() : SequenceBlock("Stabilizer", "InputValue") {}
    void prepare(int values, double threshold, double not_recognised = -1.0) {
        make();
        ASSERT_TRUE(harness->set_int("NValues", values));
        ASSERT_TRUE(harness->set_double("Threshold", threshold));
        ASSERT_TRUE(harness->set_double("NotRecValue", not_recognised));
        start(false);
    }
    Outputs step(double input) {
        feed("InputValue", input);
        return {double(harness->output_int("Recognized")), harness->output_double("OutputValue"),
                harness->output_double("max_freq"), harness->output_double("max_freq_val")};
    }
};

TEST_F(Stabilizer, RecognisesAValueOnceItsShareReachesTheThreshold) {
    prepare(5, 60.0);
    EXPECT_EQ(step(1), (Outputs{0, -1, 20, 1}));
    EXPECT_EQ(step(1), (Outputs{0, -1, 40, 1}));
    EXPECT_EQ(step(1), (Outputs{1, 1, 60, 1}));
    EXPECT_EQ(step(2), (Outputs{1, 1, 60, 1}));
    EXPECT_EQ(harness->output_values("buffer"), (Values{2, 1, 1, 1, 0}));
    for (const char* id : {"Recognized", "OutputValue", "buffer", "max_freq", "max_freq_val"})
        EXPECT_TRUE(now(id)) << id;
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Stabilizer, NoPeakIsNotRecognisedEvenAtThresholdZero) {
    // 0, 0 share the starting entries' count: no positive frequency.
    prepare(3, 0.0, 9.0);
    EXPECT_EQ(step(0), (Outputs{0, 9, 0, 9}));
    EXPECT_EQ(step(1)[0], 1);
}

TEST_F(Stabilizer, WindowLengthChangesAtTheNextInit) {
    prepare(3, 50.0);
    step(7);
    step(7);
    ASSERT_TRUE(harness->set_int("NValues", 6));
    EXPECT_EQ(step(8), (Outputs{1, 7, (2.0 / 3) * 100.0, 7}));
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(harness->output_values("buffer").size(), 6u);
    EXPECT_EQ(step(8)[2], (1.0 / 6) * 100.0);
}

TEST_F(Stabilizer, NoWindowFromASavedPatchIsAnError) {
    restore_edited("NValues", 0);
    harness->source("InputValue");
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"Stabilizer: Number of values is 0; it must be at least 1.\n",
                                        "Block block: error in method Init\n"}));
}

}  // namespace
