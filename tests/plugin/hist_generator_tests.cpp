// HistGenerator through the dlopen'ed plug-in: buffering, triggers, outputs
// per histogram (the counting is the algorithm tests').
#include <gtest/gtest.h>

#include "plugin/block_test.h"

namespace {

using Values = std::vector<double>;

class HistGenerator : public BlockTest {
protected:
    HistGenerator() : BlockTest("HistGenerator") {}

    // Declared, parameters set in design mode, then Init..Start and running.
    void running(std::initializer_list<std::pair<const char*, int>> ints, bool normalise = false) {
        make("hist");
        for (const auto& [id, value] : ints) ASSERT_TRUE(harness->set_int(id, value));
        ASSERT_TRUE(harness->set_bool("Normalize", normalise));
        harness->source("inputValue");
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
    }
    void feed_all(const Values& values) { BlockTest::feed_all("inputValue", values); }
    void generate() { fire_and_tick("Generate"); }
    Values histogram(int index) { return harness->output_values("Histogram_" + std::to_string(index)); }
};

TEST_F(HistGenerator, CountsSegmentsIntoTheirOwnHistograms) {
    running({{"NumberOfHistograms", 3}, {"NumberOfBins", 2}});
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{0.25, 0.75}));
    feed_all({0.1, 0.1, 0.9, 0.9, 0.9});
    generate();
    EXPECT_EQ(histogram(0), (Values{2, 0}));
    EXPECT_EQ(histogram(1), (Values{0, 2}));
    EXPECT_EQ(histogram(2), (Values{0, 1}));
    const Mrv::TimeStamp now = harness->clock().GetCurrentTime();
    for (const char* id : {"Histogram_0", "Histogram_2", "OutputBinCenters"}) EXPECT_EQ(harness->output_time(id), now);
    // ResetOnGeneration: the next histogram counts only what came since.
    feed("inputValue", 0.9);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1}));
    EXPECT_EQ(histogram(2), (Values{0, 0}));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(HistGenerator, NormalisesWhenAsked) {
    running({{"NumberOfBins", 2}}, true);
    feed_all({0.1, 0.3, 0.7, 0.2});
    generate();
    EXPECT_EQ(histogram(0), (Values{1.5, 0.5}));
}

TEST_F(HistGenerator, GenerateWaitsForAValue) {
    running({{"MaximumDimension", 0}});
    // Dimension 0 keeps the buffer empty: Generate never produces.
    generate();
    feed("inputValue", 0.5);
    EXPECT_EQ(harness->output_time("Histogram_0"), 0);
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("MaximumDimension", -1));
    harness->set_running(true);
    // Still pending: the first execution with a value produces it.
    feed("inputValue", 0.5);
    EXPECT_EQ(histogram(0)[12], 1.0);
    EXPECT_EQ(harness->output_time("Histogram_0"), harness->clock().GetCurrentTime());
}

TEST_F(HistGenerator, BufferKeepsTheLastValuesAndResets) {
    running({{"MaximumDimension", 3}, {"NumberOfBins", 4}});
    ASSERT_TRUE(harness->set_bool("ResetOnGeneration", false));
    feed_all({0.1, 0.1, 0.9, 0.6});
    ASSERT_TRUE(harness->execute());  // the same time stamp: taken once
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 0, 1, 1}));
    feed("inputValue", 0.6);  // without reset on generation, counted again
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 2, 1}));
    ASSERT_TRUE(harness->fire("Reset"));
    feed("inputValue", 0.3);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1, 0, 0}));
    harness->stop();  // so does Stop
    ASSERT_TRUE(harness->start());
    feed("inputValue", 0.8);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 0, 1}));
}

TEST_F(HistGenerator, RangeEditedWhileRunningMovesTheCentres) {
    running({{"NumberOfBins", 2}});
    ASSERT_TRUE(harness->set_double("MaxValue", 4.0));
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{1, 3}));
    feed_all({0.5, 3.5});
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 1}));
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
    auto& outputs = h.signature().outputs().items();
    ASSERT_EQ(outputs.size(), 4u);
    EXPECT_STREQ(outputs[3]->GetId(), "Histogram_2");
    EXPECT_STREQ(outputs[3]->GetName(), "Histogram_2");
    EXPECT_STREQ(outputs[3]->GetDescription(), "The generated histogram");
    EXPECT_EQ(signature_changes(), 1);
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 2));  // the highest go first
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_STREQ(outputs[2]->GetId(), "Histogram_1");
    EXPECT_EQ(signature_changes(), 2);

    // A saved instance that lost an output is declared again with its values.
    ASSERT_TRUE(h.set_int("NumberOfBins", 5));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    saved->outputs().remove("Histogram_1");
    restore(*saved);
    EXPECT_EQ(harness->parameter_int("NumberOfBins"), 5);
    EXPECT_NE(harness->signature().find_output("Histogram_1"), nullptr);
}

}  // namespace
