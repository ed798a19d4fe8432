// SubSampler through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include "plugin/block_test.h"

namespace {

using Values = std::vector<double>;

class SubSampler : public BlockTest {
protected:
    SubSampler() : BlockTest("SubSampler") {}

    mrvhost::BlockHarness& prepare(int samples, int mode) {
        make("sub");
        EXPECT_TRUE(harness->set_int("Number Of Samples", samples));
        EXPECT_TRUE(harness->set_int("SamplingMode", mode));
        harness->source("inputValue");
        EXPECT_TRUE(harness->begin());
        return *harness;
    }
    void feed_all(const Values& values) { BlockTest::feed_all("inputValue", values); }
    void generate() { fire_and_tick("Generate"); }
    Mrv::ITemporalData* sequence() {
        return Mrv::interface_cast<Mrv::ITemporalData>(harness->output("OutputSequence"));
    }
    Values samples() {
        Mrv::ITemporalData* data = sequence();
        const double* first = data->GetChannel(0);
        return Values(first, first + data->GetSampleCount());
    }
    static Values positions(int length) {
        Values values;
        for (int i = 0; i < length; ++i) values.push_back(i);
        return values;
    }
};

TEST_F(SubSampler, DeclaresItsPinsAndParameters) {
    mrvhost::BlockHarness& h = make();
    auto& parameters = h.signature().parameters().items();
    const std::vector<std::string> ids{"Reset", "Number Of Samples", "Generate", "ResetOnGeneration", "SamplingMode",
                                       "Maximum Dimension"};
    ASSERT_EQ(parameters.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(parameters[i]->GetId(), ids[i]);
    EXPECT_STREQ(h.parameter("Number Of Samples").GetDescription(), "The number of samples tha will be produced");
    EXPECT_STREQ(h.parameter("ResetOnGeneration").GetDescription(),
                 "Rsed to tell the block if it has to resets the block's buffers after the generation of an histrogram");
    EXPECT_STREQ(h.parameter("SamplingMode").GetName(), "Sampling Mode");
    EXPECT_EQ(h.parameter_int("Number Of Samples"), 25);
    EXPECT_EQ(h.parameter_int("SamplingMode"), 0);
    EXPECT_EQ(h.parameter_int("Maximum Dimension"), -1);
    EXPECT_TRUE(h.parameter_bool("ResetOnGeneration"));
    EXPECT_FALSE(h.parameter("Reset").GetAttribute(2));
    EXPECT_TRUE(h.parameter("Generate").GetAttribute(2));
    EXPECT_EQ(h.parameter("Number Of Samples").GetDomain(), nullptr);
    auto* modes = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(h.layout().GetLayout("SamplingMode"));
    ASSERT_NE(modes, nullptr);
    ASSERT_EQ(modes->GetItemCount(), 5);
    const char* const labels[] = {"Mean", "Variance", "Min", "Max", "Sample"};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(modes->GetItem(i), labels[i]);
    auto& output = *h.signature().outputs().items().at(0);
    EXPECT_STREQ(output.GetId(), "OutputSequence");
    EXPECT_STREQ(output.GetDatatypeCatalogId(), "base");
    EXPECT_STREQ(output.GetDatatypeClassId(), "temporal_data");
    EXPECT_STREQ(output.GetDescription(), "The subsampled sequence");
    EXPECT_EQ(h.status().driving_inputs(), (std::vector<std::pair<std::string, Mrv::int32>>{{"inputValue", 1}}));
}

TEST_F(SubSampler, SegmentsSpreadOverTheBuffer) {
    prepare(3, 4);  // "Sample": the first value of each segment
    EXPECT_EQ(sequence()->GetSampleCount(), 3);
    EXPECT_EQ(sequence()->GetChannelCount(), 1);
    feed_all(positions(11));
    generate();
    EXPECT_EQ(samples(), (Values{0, 3, 7}));
    EXPECT_EQ(harness->output_time("OutputSequence"), harness->clock().GetCurrentTime());
    feed_all(positions(10));  // the buffer was reset by the generation
    generate();
    EXPECT_EQ(samples(), (Values{0, 3, 6}));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(SubSampler, ShortAndEmptyBuffers) {
    prepare(25, 4);
    feed_all({1, 2, 3, 4});
    generate();
    Values padded(25, 0.0);
    padded[0] = 1, padded[1] = 2, padded[2] = 3, padded[3] = 4;
    EXPECT_EQ(samples(), padded);
    // Generate on an empty buffer: 25 zeros at once.
    generate();
    EXPECT_EQ(samples(), Values(25, 0.0));
    EXPECT_EQ(harness->output_time("OutputSequence"), harness->clock().GetCurrentTime());
}

TEST_F(SubSampler, TimeStampsDecideWhatIsNew) {
    prepare(2, 4);
    feed("inputValue", 1);
    ASSERT_TRUE(harness->execute());  // same stamp: taken once
    feed("inputValue", 2);
    // The execution that generates does not read the input; the value is
    // taken by the next one.
    harness->feed_double("inputValue", 3);
    ASSERT_TRUE(harness->fire("Generate"));
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(samples(), (Values{1, 2}));
    ASSERT_TRUE(harness->execute());
    feed("inputValue", 4);
    generate();
    EXPECT_EQ(samples(), (Values{3, 4}));
}

TEST_F(SubSampler, BufferOutlivesDoneAndResetEmptiesIt) {
    prepare(2, 4);
    ASSERT_TRUE(harness->set_bool("ResetOnGeneration", false));
    feed_all({5, 6});
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    feed("inputValue", 7);
    generate();
    EXPECT_EQ(samples(), (Values{5, 6}));  // L 3, N 2: s 1, r 0.5; starts 0, 1
    generate();
    EXPECT_EQ(samples(), (Values{5, 6}));  // kept without reset on generation
    harness->set_running(true);
    ASSERT_TRUE(harness->fire("Reset"));
    generate();
    EXPECT_EQ(samples(), (Values{0, 0}));
}

TEST_F(SubSampler, MaximumDimensionKeepsTheMostRecentValues) {
    prepare(3, 4);
    ASSERT_TRUE(harness->set_int("Maximum Dimension", 3));
    feed_all(positions(1000));
    generate();
    EXPECT_EQ(samples(), (Values{997, 998, 999}));
}

// No samples for N <= 0, yet each generation stamps the output and, with
// ResetOnGeneration, empties the buffer; the block says nothing of it.
TEST_F(SubSampler, SampleCountsBelowOneGenerateNoSamples) {
    for (int count : {0, -4}) {
        SCOPED_TRACE(count);
        prepare(count, 0);
        EXPECT_EQ(sequence()->GetSampleCount(), 0);
        feed_all({1, 2});
        generate();
        EXPECT_EQ(sequence()->GetSampleCount(), 0);
        EXPECT_EQ(harness->output_time("OutputSequence"), harness->clock().GetCurrentTime());
        // The buffer was emptied: with 1 sample, the one value fed since.
        harness->stop();
        harness->done();
        ASSERT_TRUE(harness->set_int("Number Of Samples", 1));
        ASSERT_TRUE(harness->begin());
        feed_all({7});
        generate();
        EXPECT_EQ(samples(), Values{7});
        EXPECT_TRUE(harness->messages().empty());
    }
}

TEST_F(SubSampler, SampleCountOfInitIsKeptUntilTheNextInit) {
    prepare(4, 4);
    ASSERT_TRUE(harness->set_int("Number Of Samples", 50));
    feed_all({1, 2, 3, 4, 5, 6, 7, 8});
    generate();
    EXPECT_EQ(samples(), (Values{1, 3, 5, 7}));
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(sequence()->GetSampleCount(), 50);
}

TEST_F(SubSampler, AMillionValuesReduceToTheirMeans) {
    prepare(4, 0);
    for (int i = 0; i < 1000000; ++i) {
        harness->feed_double("inputValue", i % 4 == 0 ? 8.0 : 0.0);
        harness->tick();
    }
    generate();
    EXPECT_EQ(samples(), (Values{2, 2, 2, 2}));
}

TEST_F(SubSampler, SavedInstanceWithOtherModesIsDeclaredAgain) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("Number Of Samples", 7));
    ASSERT_TRUE(h.set_int("SamplingMode", 3));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    mrvhost::Ref<mrvhost::Layout> layout = mrvhost::Layout::create();
    auto* modes = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(layout->SetLayout("SamplingMode", "kernel", "combo"));
    modes->SetItemCount(4);
    restore(*saved, layout.get(), "old");
    EXPECT_EQ(harness->messages(Mrv::LevelFatal),
              std::vector<std::string>{"Block old: unhandled exception of type Mrv::IException in method "
                                       "InitInstance; exception message is Reset signature\n"});
    // Current declarations, saved values carried over.
    EXPECT_EQ(Mrv::interface_cast<Mrv::IComboDatatypeLayout>(harness->layout().GetLayout("SamplingMode"))
                  ->GetItemCount(),
              5);
    EXPECT_EQ(harness->parameter_int("Number Of Samples"), 7);
    EXPECT_EQ(harness->parameter_int("SamplingMode"), 3);

    // With the five modes the saved instance is taken as it is. (The
    // fallback cleared the saved layout and declared into it.)
    saved = harness->signature().clone();
    mrvhost::Ref<mrvhost::Layout> current = mrvhost::Layout::create();
    Mrv::interface_cast<Mrv::IComboDatatypeLayout>(current->SetLayout("SamplingMode", "kernel", "combo"))
        ->SetItemCount(5);
    restore(*saved, current.get(), "current");
    EXPECT_TRUE(harness->messages().empty());
    EXPECT_EQ(harness->parameter_int("Number Of Samples"), 7);
}

}  // namespace
