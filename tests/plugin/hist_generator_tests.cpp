// HistGenerator through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin/block_test.h"

namespace {

using Values = std::vector<double>;

class HistGenerator : public BlockTest {
protected:
    HistGenerator() : BlockTest("HistGenerator") {}

    // Declared, parameters set in design mode, then Init..Start and running.
    mrvhost::BlockHarness& running(const std::function<void(mrvhost::BlockHarness&)>& configure = {}) {
        make("hist");
        if (configure) configure(*harness);
        harness->source("inputValue");  // connected, nothing fed yet
        EXPECT_TRUE(harness->begin());
        harness->set_running(true);
        return *harness;
    }
    void feed_all(const Values& values) { BlockTest::feed_all("inputValue", values); }
    void generate() { fire_and_tick("Generate"); }
    Values histogram(int index) { return harness->output_values("Histogram_" + std::to_string(index)); }
    static Values with(std::size_t size, std::initializer_list<std::pair<std::size_t, double>> cells) {
        Values row(size, 0.0);
        for (const auto& [bin, value] : cells) row[bin] = value;
        return row;
    }
};

TEST_F(HistGenerator, DeclaresItsPinsAndParameters) {
    mrvhost::BlockHarness& h = make();
    auto& parameters = h.signature().parameters().items();
    const std::vector<std::string> ids{"Reset",    "ResetOnGeneration", "NumberOfHistograms",
                                       "NumberOfBins", "MinValue",     "MaxValue",
                                       "Generate", "MaximumDimension",  "Normalize"};
    ASSERT_EQ(parameters.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(parameters[i]->GetId(), ids[i]);
    EXPECT_STREQ(h.parameter("MinValue").GetName(), "Minumum Value");
    EXPECT_STREQ(h.parameter("MaximumDimension").GetDescription(), "The maximum lenght of the sequence");
    EXPECT_STREQ(h.parameter("ResetOnGeneration").GetDescription(),
                 "Used to tell the block if it has to resets the block's buffers after the generation of an histogram");
    EXPECT_TRUE(h.parameter_bool("ResetOnGeneration"));
    EXPECT_EQ(h.parameter_int("NumberOfHistograms"), 1);
    EXPECT_EQ(h.parameter_int("NumberOfBins"), 25);
    EXPECT_EQ(h.parameter_double("MaxValue"), 1.0);
    EXPECT_EQ(h.parameter_int("MaximumDimension"), -1);
    EXPECT_FALSE(h.parameter_bool("Normalize"));
    // Triggers only while running; the shape parameters only in design mode.
    EXPECT_FALSE(h.parameter("Generate").GetAttribute(2));
    EXPECT_FALSE(h.parameter("Reset").GetAttribute(2));
    EXPECT_FALSE(h.parameter("NumberOfBins").GetAttribute(3));
    EXPECT_FALSE(h.parameter("NumberOfHistograms").GetAttribute(3));
    Mrv::int32 state = 0;
    auto* bins = Mrv::interface_cast<Mrv::IIntDomain>(h.parameter("NumberOfBins").GetDomain());
    ASSERT_NE(bins, nullptr);
    EXPECT_EQ(bins->GetMinimum(&state), 1);
    EXPECT_EQ(state, Mrv::BoundFlagTrue);
    bins->GetMaximum(&state);
    EXPECT_EQ(state, Mrv::BoundAbsent);
    auto* dimension = Mrv::interface_cast<Mrv::IIntDomain>(h.parameter("MaximumDimension").GetDomain());
    EXPECT_EQ(dimension->GetMinimum(&state), -1);

    ASSERT_EQ(h.signature().inputs().items().size(), 1u);
    EXPECT_STREQ(h.signature().inputs().items()[0]->GetDescription(), "the input sequence");
    auto& outputs = h.signature().outputs().items();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_STREQ(outputs[0]->GetId(), "OutputBinCenters");
    EXPECT_STREQ(outputs[0]->GetName(), "OutputBinsCenters");
    EXPECT_STREQ(outputs[1]->GetId(), "Histogram_0");
    EXPECT_STREQ(outputs[1]->GetName(), "OutputHistogram");
    EXPECT_STREQ(outputs[1]->GetDescription(), "The generated histogram");
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0], (std::pair<std::string, Mrv::int32>{"inputValue", 1}));
}

TEST_F(HistGenerator, DefaultBinsCentresAndBoundaries) {
    running();
    EXPECT_EQ(harness->output_matrix("OutputBinCenters")->GetWidth(), 25);
    const Values centres = harness->output_values("OutputBinCenters");
    EXPECT_DOUBLE_EQ(centres[0], 0.02);
    EXPECT_DOUBLE_EQ(centres[1], 0.06);
    EXPECT_DOUBLE_EQ(centres[24], 0.98);
    feed_all({1.0, -5.0, 0.5, std::numeric_limits<double>::quiet_NaN(), std::nextafter(1.0, 0.0)});
    generate();
    EXPECT_EQ(histogram(0), with(25, {{0, 1}, {12, 1}, {24, 2}}));
    EXPECT_EQ(harness->output_time("Histogram_0"), harness->clock().GetCurrentTime());
    EXPECT_EQ(harness->output_time("OutputBinCenters"), harness->clock().GetCurrentTime());
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(HistGenerator, SegmentsGoToTheirOwnHistograms) {
    running([](auto& h) {
        ASSERT_TRUE(h.set_int("NumberOfHistograms", 3));
        ASSERT_TRUE(h.set_int("NumberOfBins", 2));
    });
    feed_all({0.1, 0.1, 0.9, 0.9, 0.9});
    generate();
    // floor(3k/5): 0, 1 -> 0; 2, 3 -> 1; 4 -> 2.
    EXPECT_EQ(histogram(0), (Values{2, 0}));
    EXPECT_EQ(histogram(1), (Values{0, 2}));
    EXPECT_EQ(histogram(2), (Values{0, 1}));
}

TEST_F(HistGenerator, GenerateWaitsForAValue) {
    running([](auto& h) { ASSERT_TRUE(h.set_int("MaximumDimension", 0)); });
    // Dimension 0 keeps the buffer empty: Generate never produces.
    generate();
    feed("inputValue", 0.5);
    EXPECT_EQ(harness->output_time("Histogram_0"), 0);
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("MaximumDimension", -1));
    harness->set_running(true);
    // Still pending: the first execution with a value produces it.
    feed("inputValue", 0.5);
    EXPECT_EQ(histogram(0), with(25, {{12, 1}}));
    EXPECT_EQ(harness->output_time("Histogram_0"), harness->clock().GetCurrentTime());
}

TEST_F(HistGenerator, BufferKeepsTheLastValuesAndResets) {
    running([](auto& h) {
        ASSERT_TRUE(h.set_int("MaximumDimension", 3));
        ASSERT_TRUE(h.set_bool("ResetOnGeneration", false));
        ASSERT_TRUE(h.set_int("NumberOfBins", 4));
    });
    feed_all({0.1, 0.1, 0.9, 0.6});
    // The same time stamp twice: the value is taken once.
    ASSERT_TRUE(harness->execute());
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 0, 1, 1}));
    // Without reset on generation the values are counted again.
    feed("inputValue", 0.6);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 2, 1}));
    // Reset empties the buffer; so does Stop.
    ASSERT_TRUE(harness->fire("Reset"));
    feed("inputValue", 0.3);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1, 0, 0}));
    harness->stop();
    ASSERT_TRUE(harness->start());
    feed("inputValue", 0.8);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 0, 0, 1}));
}

TEST_F(HistGenerator, ResetOnGenerationStartsAFreshBuffer) {
    running([](auto& h) { ASSERT_TRUE(h.set_int("NumberOfBins", 2)); });
    feed_all({0.1, 0.9});
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 1}));
    feed("inputValue", 0.9);
    generate();
    EXPECT_EQ(histogram(0), (Values{0, 1}));
}

TEST_F(HistGenerator, NormalisedHistogramsAndTheEmptyOne) {
    running([](auto& h) {
        ASSERT_TRUE(h.set_int("NumberOfBins", 2));
        ASSERT_TRUE(h.set_bool("Normalize", true));
        ASSERT_TRUE(h.set_int("NumberOfHistograms", 3));
    });
    feed_all({0.2, 0.7});
    generate();
    // Two values in three histograms: the last is empty and stays 0.
    EXPECT_EQ(histogram(0), (Values{2, 0}));
    EXPECT_EQ(histogram(1), (Values{0, 2}));
    EXPECT_EQ(histogram(2), (Values{0, 0}));
    harness->stop();
    harness->done();
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("NumberOfHistograms", 1));
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    feed_all({0.1, 0.3, 0.7, 0.2});  // counts 3 and 1
    generate();
    EXPECT_EQ(histogram(0), (Values{1.5, 0.5}));
}

TEST_F(HistGenerator, RangeEditedWhileRunningMovesTheCentres) {
    running([](auto& h) { ASSERT_TRUE(h.set_int("NumberOfBins", 2)); });
    ASSERT_TRUE(harness->set_double("MaxValue", 4.0));
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{1, 3}));
    feed_all({0.5, 3.5});
    generate();
    EXPECT_EQ(histogram(0), (Values{1, 1}));
    // In design mode the centres wait for the next Init.
    harness->set_running(false);
    ASSERT_TRUE(harness->set_double("MinValue", 2.0));
    EXPECT_EQ(harness->output_values("OutputBinCenters"), (Values{1, 3}));
    // The bins of Init are kept while running.
    harness->set_running(true);
    EXPECT_FALSE(harness->set_int("NumberOfBins", 5));
}

TEST_F(HistGenerator, HistogramOutputsFollowTheirNumber) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 3));
    auto& outputs = h.signature().outputs().items();
    ASSERT_EQ(outputs.size(), 4u);
    EXPECT_STREQ(outputs[2]->GetId(), "Histogram_1");
    EXPECT_STREQ(outputs[2]->GetName(), "Histogram_1");
    EXPECT_STREQ(outputs[3]->GetId(), "Histogram_2");
    EXPECT_STREQ(outputs[3]->GetDescription(), "The generated histogram");
    EXPECT_STREQ(outputs[3]->GetDatatypeClassId(), "double-matrix");
    EXPECT_EQ(signature_changes(), 1);
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 1));
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_STREQ(outputs[1]->GetId(), "Histogram_0");
    EXPECT_EQ(signature_changes(), 2);

    // A saved instance with three histograms restores all three outputs.
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 3));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    restore(*saved, nullptr, "again");
    EXPECT_TRUE(harness->messages().empty());
    harness->feed_double("inputValue", 0.5);
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    ASSERT_TRUE(harness->tick());
    generate();
    EXPECT_EQ(histogram(0), with(25, {{12, 1}}));
    EXPECT_EQ(histogram(2), Values(25, 0.0));
    // Fewer then: the highest go first.
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("NumberOfHistograms", 2));
    EXPECT_EQ(harness->signature().find_output("Histogram_2"), nullptr);
    EXPECT_NE(harness->signature().find_output("Histogram_1"), nullptr);
}

TEST_F(HistGenerator, SavedInstanceThatLostAnOutputIsDeclaredAgain) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("NumberOfHistograms", 2));
    ASSERT_TRUE(h.set_int("NumberOfBins", 5));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    saved->outputs().remove("Histogram_1");
    restore(*saved);
    EXPECT_EQ(harness->parameter_int("NumberOfBins"), 5);
    EXPECT_EQ(harness->parameter_int("NumberOfHistograms"), 2);
    EXPECT_NE(harness->signature().find_output("Histogram_1"), nullptr);
}

TEST_F(HistGenerator, NoBinsFromASavedPatchGivesEmptyHistograms) {
    for (int bins : {0, -2}) {
        SCOPED_TRACE(bins);
        mrvhost::BlockHarness& h = make();
        mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
        Mrv::interface_cast<Mrv::IInt>(saved->find_parameter("NumberOfBins")->GetValue())->SetValue(bins);
        restore(*saved, nullptr, "hist");
        harness->feed_double("inputValue", 0.5);
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
        ASSERT_TRUE(harness->tick());
        ASSERT_TRUE(harness->fire("Generate"));
        harness->run_requested();
        EXPECT_EQ(harness->output_matrix("Histogram_0")->GetWidth(), 0);
        EXPECT_EQ(harness->output_time("Histogram_0"), harness->clock().GetCurrentTime());
        EXPECT_TRUE(harness->messages().empty());
    }
}

}  // namespace
