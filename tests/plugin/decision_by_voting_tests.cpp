// DecisionByVoting through the dlopen'ed plug-in: buffering, the vote on
// Generate, its trace and the triggers (the vote's numbers are the
// algorithm tests').
#include <gtest/gtest.h>

#include <cmath>

#include "plugin/block_test.h"

namespace {

class DecisionByVoting : public BlockTest {
protected:
    DecisionByVoting() : BlockTest("DecisionByVoting") {}

    void prepare(int answers = 1, int maximum = -1) {
        make("voter");
        ASSERT_TRUE(harness->set_int("NumberOfAnswers", answers));
        ASSERT_TRUE(harness->set_int("MaximumDimension", maximum));
        start();
    }
    void start() {
        harness->source("inputValue");  // linked, no value yet
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
    }
    void feed(const std::vector<double>& values) { feed_all("inputValue", values); }
    // Fires Generate and serves the one execution it asks for.
    void generate() {
        ASSERT_TRUE(harness->fire("Generate"));
        EXPECT_EQ(harness->run_requested(), 1);
    }
    std::vector<double> answers() { return harness->output_values("OutputAnswers"); }
    double sure() { return harness->output_double("AnswerIsSure"); }
};

TEST_F(DecisionByVoting, GenerateVotesInTheNextTickAndTracesTheBuffer) {
    prepare(3);
    feed({3, 2, NAN, INFINITY, 2});
    harness->clear_notifications();
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{2, 2, 2}));
    EXPECT_EQ(sure(), 1.0);
    EXPECT_EQ(harness->output_time("AnswerIsSure"), harness->clock().GetCurrentTime());
    EXPECT_EQ(harness->output_time("OutputAnswers"), harness->clock().GetCurrentTime());
    // Newest first; the repeated "2 " of the same tick is said once.
    EXPECT_EQ(harness->messages(Mrv::LevelTrace),
              (std::vector<std::string>{"size: 5\n", "Labels: ", "2 ", "2147483647 ", "0 ", "3 ", "\n"}));
    EXPECT_EQ(harness->messages().size(), 7u);
    // The vote emptied the buffer; a limit drops the oldest.
    ASSERT_TRUE(harness->set_int("MaximumDimension", 2));
    feed({3, 1, 1});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{1, 1, 1}));
}

TEST_F(DecisionByVoting, GenerateOnAnEmptyBufferWaitsForTheNextValue) {
    prepare(2);
    generate();
    EXPECT_EQ(harness->output_time("AnswerIsSure"), 0);
    EXPECT_TRUE(harness->messages().empty());
    EXPECT_FALSE(harness->status().execution_request().pending());
    feed({7});
    EXPECT_EQ(answers(), (std::vector<double>{7, 7}));
}

TEST_F(DecisionByVoting, OnlyNewValuesAreBufferedUntilResetOrStop) {
    prepare(3);
    feed({4});
    ASSERT_TRUE(harness->execute());  // same time stamp: nothing new
    ASSERT_TRUE(harness->tick());
    feed({4, 5});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{4, 4, 4}));  // 4 twice, 5 once
    feed({1, 1, 1});
    ASSERT_TRUE(harness->fire("Reset"));
    feed({2});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{2, 2, 2}));
    feed({3, 3});
    harness->stop();
    harness->done();
    start();
    feed({4});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{4, 4, 4}));
}

TEST_F(DecisionByVoting, AnswersTakeTheShapeSetBeforeInit) {
    prepare(1);
    harness->stop();
    harness->done();
    harness->set_running(false);
    ASSERT_TRUE(harness->set_int("NumberOfAnswers", 4));
    start();
    EXPECT_EQ(harness->output_matrix("OutputAnswers")->GetHeight(), 1);
    feed({1, 2});
    generate();
    EXPECT_EQ(answers(), (std::vector<double>{2, 1, -1, -1}));
    EXPECT_EQ(sure(), 0.5);
}

// NumberOfAnswers below 1 can only come from a hand-edited saved patch: a
// vote then has no answers to give, only its certainty.
TEST_F(DecisionByVoting, NoAnswersFromASavedPatchGiveOnlyTheCertainty) {
    mrvhost::BlockHarness& h = make();
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    Mrv::interface_cast<Mrv::IInt>(saved->find_parameter("NumberOfAnswers")->GetValue())->SetValue(0);
    restore(*saved, nullptr, "restored");
    start();
    feed({1, 2});
    generate();
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(sure(), 0.0);
    EXPECT_EQ(harness->output_time("AnswerIsSure"), harness->clock().GetCurrentTime());
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

}  // namespace
