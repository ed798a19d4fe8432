// Stabilizer through the dlopen'ed plug-in: its wiring around the window
// (the window's numbers are the algorithm tests').
#include <gtest/gtest.h>

#include "plugin/block_test.h"

namespace {

// Recognized, OutputValue, max_freq and max_freq_val after one input.
using Outputs = std::vector<double>;

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
    EXPECT_EQ(harness->output_values("buffer"), (std::vector<double>{2, 1, 1, 1, 0}));
    const Mrv::TimeStamp now = harness->clock().GetCurrentTime();
    for (const char* id : {"Recognized", "OutputValue", "buffer", "max_freq", "max_freq_val"})
        EXPECT_EQ(harness->output_time(id), now) << id;
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

}  // namespace
