// DecisionByVoting through the dlopen'ed plug-in and the substitute host:
// buffering, the vote on Generate, its trace and the triggers.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <cmath>

#include "host/harness.h"
#include "host/live_objects.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Plugin;

class DecisionByVoting : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { harness.reset(); }
    BlockHarness& make(int answers = 1, int maximum = -1) {
        harness = std::make_unique<BlockHarness>(plugin.find_class("DecisionByVoting"), "voter");
        harness->init_instance();
        EXPECT_TRUE(harness->set_int("NumberOfAnswers", answers));
        EXPECT_TRUE(harness->set_int("MaximumDimension", maximum));
        harness->source("inputValue");  // linked, no value yet
        EXPECT_TRUE(harness->begin());
        harness->set_running(true);
        return *harness;
    }
    // One tick per value, oldest first.
    void feed(const std::vector<double>& values) {
        for (double value : values) {
            harness->feed_double("inputValue", value);
            ASSERT_TRUE(harness->tick());
        }
    }
    // Fires Generate and serves the execution it asks for.
    void generate() {
        ASSERT_TRUE(harness->fire("Generate"));
        EXPECT_EQ(harness->run_requested(), 1);
    }
    std::vector<double> answers() { return harness->output_values("OutputAnswers"); }
    double sure() { return harness->output_double("AnswerIsSure"); }

    Plugin plugin{Plugin::default_path()};
    std::unique_ptr<BlockHarness> harness;
};

TEST_F(DecisionByVoting, DeclaresItsPinsAndParameters) {
    BlockHarness h(plugin.find_class("DecisionByVoting"), "voter");
    h.init_instance();
    auto& signature = h.signature();
    ASSERT_EQ(signature.GetParameters()->GetCount(), 4);
    const char* ids[] = {"Reset", "NumberOfAnswers", "Generate", "MaximumDimension"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(signature.GetParameters()->GetItem(i)->GetId(), ids[i]);
    EXPECT_STREQ(h.parameter("Reset").GetDescription(), "Resets the block's buffers");
    EXPECT_FALSE(h.parameter("Reset").GetAttribute(2));
    EXPECT_TRUE(h.parameter("Reset").GetAttribute(3));
    EXPECT_EQ(h.parameter_int("NumberOfAnswers"), 1);
    EXPECT_FALSE(h.parameter("NumberOfAnswers").GetAttribute(3));
    EXPECT_FALSE(h.parameter("Generate").GetAttribute(2));
    EXPECT_EQ(h.parameter_int("MaximumDimension"), -1);
    EXPECT_STREQ(h.parameter("MaximumDimension").GetDescription(),
                 "The maximum lenght of the sequence, set it to -1or 0 to not limit the sequence size");
    EXPECT_FALSE(h.set_int("NumberOfAnswers", 0));
    EXPECT_FALSE(h.set_int("MaximumDimension", -2));
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetId(), "inputValue");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetId(), "OutputAnswers");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetName(), "OutputAnswerIsSure");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetDescription(), "The certainty of the set of given answers");
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0], (std::pair<std::string, Mrv::int32>{"inputValue", 1}));
    // Both triggers are for a running patch.
    EXPECT_FALSE(h.fire("Generate"));
    EXPECT_FALSE(h.fire("Reset"));
}

TEST_F(DecisionByVoting, GenerateVotesInTheNextTickAndTracesTheBuffer) {
    make(1);
    feed({3, 2, 1, 2});
    ASSERT_TRUE(harness->fire("Generate"));
    EXPECT_TRUE(harness->status().execution_request().pending());
    harness->clear_notifications();
    EXPECT_EQ(harness->run_requested(), 1);
    EXPECT_EQ(answers(), std::vector<double>{2});
    EXPECT_EQ(sure(), 1.0);
    EXPECT_EQ(harness->output_time("AnswerIsSure"), harness->clock().GetCurrentTime());
    EXPECT_EQ(harness->output_time("OutputAnswers"), harness->clock().GetCurrentTime());
    // Newest first; the repeated "2 " of the same tick is said once.
    EXPECT_EQ(harness->messages(Mrv::LevelTrace),
              (std::vector<std::string>{"size: 4\n", "Labels: ", "2 ", "1 ", "3 ", "\n"}));
    EXPECT_EQ(harness->messages().size(), 6u);
    // The vote emptied the buffer.
    feed({3});
    generate();
    EXPECT_EQ(answers(), std::vector<double>{3});
    EXPECT_EQ(sure(), 1.0);
}

struct Case {
    int answers, maximum;
    std::vector<double> inputs;  // oldest first
    std::vector<double> expected;
    double certainty;
};

TEST_F(DecisionByVoting, VotesOverSequences) {
    const std::vector<Case> cases = {
        {3, -1, {2, 1}, {2, 1, -1}, 0.5},          // buffer 1, 2
        {2, -1, {3, 2, 1}, {3, 2}, 0.0},           // buffer 1, 2, 3
        {3, 3, {1, 2, 3, 4}, {4, 3, 2}, 1.0 / 3},  // 1 dropped
        {2, 0, {1, 2, 3, 4, 1}, {1, 1}, 1.0},      // unlimited
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.answers << " answers, maximum " << c.maximum);
        make(c.answers, c.maximum);
        feed(c.inputs);
        generate();
        EXPECT_EQ(answers(), c.expected);
        EXPECT_DOUBLE_EQ(sure(), c.certainty);
    }
}

TEST_F(DecisionByVoting, GenerateOnAnEmptyBufferWaitsForTheNextValue) {
    make(2);
    const Mrv::TimeStamp before = harness->output_time("AnswerIsSure");
    generate();
    EXPECT_EQ(harness->output_time("AnswerIsSure"), before);
    EXPECT_TRUE(harness->messages().empty());
    EXPECT_FALSE(harness->status().execution_request().pending());
    feed({7});
    EXPECT_EQ(answers(), (std::vector<double>{7, 7}));
    EXPECT_EQ(sure(), 1.0);
}

TEST_F(DecisionByVoting, OnlyNewValuesAreBuffered) {
    make(3);
    feed({4});
    ASSERT_TRUE(harness->execute());  // same time stamp: nothing new
    ASSERT_TRUE(harness->tick());
    feed({4, 5});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{4, 4, 4}));  // 4 twice, 5 once
}

TEST_F(DecisionByVoting, ResetAndStopEmptyTheBuffer) {
    make(1);
    feed({1, 1, 1});
    ASSERT_TRUE(harness->fire("Reset"));
    feed({2});
    generate();
    EXPECT_EQ(answers(), std::vector<double>{2});
    feed({3, 3});
    harness->stop();
    harness->done();
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    feed({4});
    generate();
    EXPECT_EQ(answers(), std::vector<double>{4});
}

TEST_F(DecisionByVoting, EveryValueIsBufferedNotANumberIncluded) {
    make(1);
    feed({3, NAN, INFINITY, 3});
    generate();
    EXPECT_EQ(answers(), std::vector<double>{3});
    EXPECT_EQ(harness->messages(Mrv::LevelTrace),
              (std::vector<std::string>{"size: 4\n", "Labels: ", "3 ", "2147483647 ", "0 ", "\n"}));
    feed({NAN, 1, NAN});
    generate();
    EXPECT_TRUE(std::isnan(answers()[0]));
    EXPECT_EQ(sure(), 1.0);
}

TEST_F(DecisionByVoting, AnswersTakeTheShapeSetBeforeInit) {
    make(1);
    harness->stop();
    harness->done();
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("NumberOfAnswers", 4));
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    EXPECT_EQ(harness->output_matrix("OutputAnswers")->GetWidth(), 4);
    EXPECT_EQ(harness->output_matrix("OutputAnswers")->GetHeight(), 1);
    feed({1, 2});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{2, 1, -1, -1}));
}

TEST_F(DecisionByVoting, SavedInstanceKeepsItsSettings) {
    BlockHarness h(plugin.find_class("DecisionByVoting"), "voter");
    h.init_instance();
    ASSERT_TRUE(h.set_int("NumberOfAnswers", 3));
    ASSERT_TRUE(h.set_int("MaximumDimension", 2));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    harness = std::make_unique<BlockHarness>(plugin.find_class("DecisionByVoting"), "restored");
    harness->init_instance(*saved);
    EXPECT_EQ(harness->parameter_int("NumberOfAnswers"), 3);
    harness->source("inputValue");
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    feed({1, 2, 3});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{3, 2, -1}));
    EXPECT_TRUE(harness->messages(Mrv::LevelFatal).empty());
}

// NumberOfAnswers below 1 can only come from a hand-edited saved patch: a
// vote then has no answers to give, only its certainty (a tie of 1 and 2
// has more winners than answers: 0).
TEST_F(DecisionByVoting, NoAnswersFromASavedPatchGiveOnlyTheCertainty) {
    for (int bad : {0, -1}) {
        SCOPED_TRACE(bad);
        BlockHarness h(plugin.find_class("DecisionByVoting"), "voter");
        h.init_instance();
        mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
        Mrv::interface_cast<Mrv::IInt>(saved->find_parameter("NumberOfAnswers")->GetValue())->SetValue(bad);
        harness = std::make_unique<BlockHarness>(plugin.find_class("DecisionByVoting"), "restored");
        harness->init_instance(*saved);
        harness->source("inputValue");
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
        feed({1, 2});
        generate();
        EXPECT_TRUE(answers().empty());
        EXPECT_EQ(sure(), 0.0);
        EXPECT_EQ(harness->output_time("AnswerIsSure"), harness->clock().GetCurrentTime());
        EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
        harness.reset();
    }
}

}  // namespace
