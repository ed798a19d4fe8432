// SubSampler through the dlopen'ed plug-in: buffering, triggers and the
// output sequence (the reductions are the algorithm tests').
#include <gtest/gtest.h>

#include "plugin/block_test.h"

namespace {

using Values = std::vector<double>;

class SubSampler : public BlockTest {
protected:
    SubSampler() : BlockTest("SubSampler") {}

    void prepare(int samples, int mode) {
        make("sub");
        ASSERT_TRUE(harness->set_int("Number Of Samples", samples));
        ASSERT_TRUE(harness->set_int("SamplingMode", mode));
        harness->source("inputValue");
        ASSERT_TRUE(harness->begin());
    }
    void feed_all(const Values& values) { BlockTest::feed_all("inputValue", values); }
    void generate() { fire_and_tick("Generate"); }
    Mrv::ITemporalData* sequence() {
        return Mrv::interface_cast<Mrv::ITemporalData>(harness->output("OutputSequence"));
    }
    Values samples() {
        const double* first = sequence()->GetChannel(0);
        return Values(first, first + sequence()->GetSampleCount());
    }
};

TEST_F(SubSampler, GeneratesTheChosenReductionAndResetsItsBuffer) {
    prepare(3, 3);  // "Max"
    EXPECT_EQ(sequence()->GetChannelCount(), 1);
    feed_all({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    generate();
    EXPECT_EQ(samples(), (Values{2, 5, 9}));
    EXPECT_EQ(harness->output_time("OutputSequence"), harness->clock().GetCurrentTime());
    generate();  // the generation emptied the buffer
    EXPECT_EQ(samples(), (Values{0, 0, 0}));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(SubSampler, BufferOutlivesDoneAndResetEmptiesIt) {
    prepare(2, 4);
    ASSERT_TRUE(harness->set_bool("ResetOnGeneration", false));
    ASSERT_TRUE(harness->set_int("Maximum Dimension", 3));
    feed_all({4, 5, 6});
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    feed("inputValue", 7);  // the dimension drops the oldest
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
        prepare(count, 0);
        feed_all({1, 2});
        generate();
        EXPECT_EQ(sequence()->GetSampleCount(), 0);
        EXPECT_EQ(harness->output_time("OutputSequence"), harness->clock().GetCurrentTime());
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
    restore(*saved, layout.get(), "old");
    EXPECT_EQ(harness->messages(Mrv::LevelFatal),
              std::vector<std::string>{"Block old: unhandled exception of type Mrv::IException in method "
                                       "InitInstance; exception message is Reset signature\n"});
    EXPECT_EQ(Mrv::interface_cast<Mrv::IComboDatatypeLayout>(harness->layout().GetLayout("SamplingMode"))
                  ->GetItemCount(),
              5);
    EXPECT_EQ(harness->parameter_int("Number Of Samples"), 7);
    EXPECT_EQ(harness->parameter_int("SamplingMode"), 3);
}

}  // namespace
