// Stabilizer through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include <limits>

#include "plugin/block_test.h"

namespace {

// Recognized, OutputValue, max_freq and max_freq_val after one input.
struct Outputs {
    int recognized;
    double value, max_freq, max_freq_val;
    bool operator==(const Outputs& o) const {
        return recognized == o.recognized && value == o.value && max_freq == o.max_freq &&
               max_freq_val == o.max_freq_val;
    }
};

void PrintTo(const Outputs& o, std::ostream* out) {
    *out << "{" << o.recognized << ", " << o.value << ", " << o.max_freq << ", " << o.max_freq_val << "}";
}

class Stabilizer : public BlockTest {
protected:
    Stabilizer() : BlockTest("Stabilizer") {}

    void prepare(int values, double threshold, double not_recognised = -1.0) {
        make("stable");
        ASSERT_TRUE(harness->set_int("NValues", values));
        ASSERT_TRUE(harness->set_double("Threshold", threshold));
        ASSERT_TRUE(harness->set_double("NotRecValue", not_recognised));
        harness->source("InputValue");
        ASSERT_TRUE(harness->begin());
    }
    Outputs step(double input) {
        harness->feed_double("InputValue", input);
        EXPECT_TRUE(harness->tick());
        return {harness->output_int("Recognized"), harness->output_double("OutputValue"),
                harness->output_double("max_freq"), harness->output_double("max_freq_val")};
    }
};

TEST_F(Stabilizer, DeclaresItsPinsAndParameters) {
    mrvhost::BlockHarness& h = make();
    auto& inputs = h.signature().inputs().items();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_STREQ(inputs[0]->GetName(), "Input value");
    EXPECT_STREQ(inputs[0]->GetDescription(), "Input value to the stabilizer");
    EXPECT_TRUE(inputs[0]->IsRequired());
    auto& outputs = h.signature().outputs().items();
    const std::vector<std::vector<std::string>> expected{
        {"Recognized", "Recognition", "True if the current value is recognized", "int"},
        {"OutputValue", "Output value", "Output value from the stabilizer", "double"},
        {"buffer", "Buffer", "Buffer", "double-matrix"},
        {"max_freq", "MaxFreq", "Maximum frequency", "double"},
        {"max_freq_val", "MaxFreqVal", "Value having maximum frequency", "double"}};
    ASSERT_EQ(outputs.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ((std::vector<std::string>{outputs[i]->GetId(), outputs[i]->GetName(), outputs[i]->GetDescription(),
                                            outputs[i]->GetDatatypeClassId()}),
                  expected[i]);
    auto& parameters = h.signature().parameters().items();
    ASSERT_EQ(parameters.size(), 3u);
    EXPECT_STREQ(parameters[0]->GetName(), "Number of values");
    EXPECT_STREQ(parameters[0]->GetDescription(), "Number of previous values the stabilizer takes into account");
    EXPECT_STREQ(parameters[1]->GetDescription(), "Threshold for the stabilizer.");
    EXPECT_STREQ(parameters[2]->GetName(), "Not recognized value");
    EXPECT_EQ(h.parameter_int("NValues"), 10);
    EXPECT_EQ(h.parameter_double("Threshold"), 80.0);
    EXPECT_EQ(h.parameter_double("NotRecValue"), -1.0);
    Mrv::int32 state = 0;
    auto* threshold = Mrv::interface_cast<Mrv::IDoubleDomain>(h.parameter("Threshold").GetDomain());
    ASSERT_NE(threshold, nullptr);
    EXPECT_EQ(threshold->GetMaximum(&state), 100.0);
    EXPECT_EQ(state, Mrv::BoundFlagTrue);
    EXPECT_EQ(threshold->GetMinimum(&state), 0.0);
    // Window length 0 or negative and thresholds outside 0..100 never reach the block.
    EXPECT_FALSE(h.set_int("NValues", 0));
    EXPECT_FALSE(h.set_int("NValues", -3));
    EXPECT_FALSE(h.set_double("Threshold", 100.5));
    EXPECT_FALSE(h.set_double("Threshold", -1.0));
    EXPECT_EQ(h.status().driving_inputs(), (std::vector<std::pair<std::string, Mrv::int32>>{{"InputValue", 1}}));
}

TEST_F(Stabilizer, RecognisesAValueOnceItsShareReachesTheThreshold) {
    prepare(5, 60.0);
    EXPECT_EQ(step(1), (Outputs{0, -1, 20, 1}));
    EXPECT_EQ(step(1), (Outputs{0, -1, 40, 1}));
    EXPECT_EQ(step(1), (Outputs{1, 1, 60, 1}));
    EXPECT_EQ(step(2), (Outputs{1, 1, 60, 1}));
    EXPECT_EQ(harness->output_values("buffer"), (std::vector<double>{2, 1, 1, 1, 0}));
    const Mrv::TimeStamp now = harness->clock().GetCurrentTime();
    for (const char* id : {"Recognized", "OutputValue", "buffer", "max_freq", "max_freq_val"})
        EXPECT_EQ(harness->output_time(id), now) << id;
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Stabilizer, DefaultsNeedEightEqualValues) {
    make();
    harness->source("InputValue");
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(harness->output_matrix("buffer")->GetWidth(), 10);
    for (int k = 1; k <= 7; ++k) EXPECT_EQ(step(3.5), (Outputs{0, -1, k * 10.0, 3.5})) << k;
    EXPECT_EQ(step(3.5), (Outputs{1, 3.5, 80, 3.5}));
}

TEST_F(Stabilizer, WindowOfOneRecognisesEveryInput) {
    prepare(1, 100.0);
    EXPECT_EQ(step(4), (Outputs{1, 4, 100, 4}));
    EXPECT_EQ(step(-2), (Outputs{1, -2, 100, -2}));
    const Outputs nan_step = step(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(nan_step.recognized, 1);
    EXPECT_EQ(nan_step.max_freq, 100.0);
    EXPECT_EQ(harness->output_values("buffer").size(), 1u);
}

TEST_F(Stabilizer, StartingZerosAreNeverRecognised) {
    // 0, 0 share the starting entries' count: no positive frequency, and
    // even a threshold of 0 recognises nothing.
    prepare(3, 0.0, 9.0);
    EXPECT_EQ(step(0), (Outputs{0, 9, 0, 9}));
    EXPECT_EQ(step(0), (Outputs{0, 9, 0, 9}));
    const Outputs after = step(1);
    EXPECT_EQ(after.recognized, 1);
    EXPECT_EQ(after.value, 1.0);
    EXPECT_NEAR(after.max_freq, 33.33, 0.01);
    // 1, 0, 0, 0 end with three zeros of count 0.
    step(0);
    step(0);
    EXPECT_EQ(step(0), (Outputs{0, 9, 0, 9}));
}

TEST_F(Stabilizer, ZerosCountOnceTheStartingEntriesHaveLeft) {
    prepare(3, 100.0);
    for (double x : {5, 5, 5, 0, 0}) step(x);
    EXPECT_EQ(step(0), (Outputs{1, 0, 100, 0}));
}

TEST_F(Stabilizer, WindowLengthChangesAtTheNextInit) {
    prepare(3, 50.0);
    step(7);
    step(7);
    ASSERT_TRUE(harness->set_int("NValues", 6));
    // Still three entries until the next Init.
    EXPECT_EQ(step(8), (Outputs{1, 7, (2.0 / 3) * 100.0, 7}));
    EXPECT_EQ(harness->output_values("buffer").size(), 3u);
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    // A fresh zero-filled window of six.
    EXPECT_EQ(harness->output_values("buffer").size(), 6u);
    EXPECT_EQ(step(8).max_freq, (1.0 / 6) * 100.0);
}

TEST_F(Stabilizer, NoWindowFromASavedPatchIsAnError) {
    mrvhost::BlockHarness& h = make();
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    Mrv::interface_cast<Mrv::IInt>(saved->find_parameter("NValues")->GetValue())->SetValue(0);
    restore(*saved, nullptr, "stable");
    harness->source("InputValue");
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"Stabilizer: Number of values is 0; it must be at least 1.\n",
                                        "Block stable: error in method Init\n"}));
}

TEST_F(Stabilizer, SavedParameterOfAnotherTypeIsDeclaredAgain) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_double("Threshold", 50.0));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    saved->parameters().remove("NValues");
    saved->AddParameter("NValues", "Number of values", "", "kernel", "double", "", "", 0, 0);
    restore(*saved, nullptr, "old");
    EXPECT_EQ(harness->messages(Mrv::LevelFatal),
              std::vector<std::string>{"Block old: unhandled exception of type Mrv::IException in method "
                                       "InitInstance; exception message is Invalid type cast.\n\n"});
    EXPECT_EQ(harness->parameter_int("NValues"), 10);
    EXPECT_EQ(harness->parameter_double("Threshold"), 50.0);
}

TEST_F(Stabilizer, SavedInstanceKeepsItsSettings) {
    mrvhost::BlockHarness& h = make();
    ASSERT_TRUE(h.set_int("NValues", 2));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    restore(*saved);
    EXPECT_EQ(harness->parameter_int("NValues"), 2);
    harness->source("InputValue");
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(step(3), (Outputs{0, -1, 50, 3}));
    EXPECT_EQ(step(3), (Outputs{1, 3, 100, 3}));
}

}  // namespace
