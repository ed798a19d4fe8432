// ProbabilisticClassifier through the dlopen'ed plug-in: one output per
// distribution row, outputs that follow N, and restores (the scores' numbers
// are the algorithm tests').
#include <gtest/gtest.h>

#include <functional>

#include "plugin/block_test.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Notification;
using mrvhost::Ref;

const char* const Count = "raritynumberinputid";
const char* const Matrix = "classifiermatrixparameter";

// Three distributions: a bell at 0.5, a rising sigmoid and a flipped one;
// their scores at 0.6.
const std::vector<double> three_rows = {0, 0, 0.5, 0.1, 1, 0, 0.5, 10, 1, 1, 0.5, 10};
const std::vector<double> three_scores = {0.6065306597, 0.7310585786, 0.2689414214};

class ProbabilisticClassifier : public BlockTest {
protected:
    ProbabilisticClassifier() : BlockTest("probabilisticclassifier") {}

    std::vector<double> matrix() {
        auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(harness->parameter(Matrix).GetValue());
        return {m->GetReadPointer(), m->GetReadPointer() + m->GetHeight() * m->GetWidth()};
    }
    void run(double x) {
        harness->feed_double("classifierinput", x);
        ASSERT_TRUE(harness->begin());
        ASSERT_TRUE(harness->tick());
    }
    void expect_scores(const std::vector<double>& expected) {
        const auto ids = output_ids();
        ASSERT_EQ(ids.size(), expected.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            EXPECT_NEAR(harness->output_double(ids[i]), expected[i], 1e-10) << ids[i];
            EXPECT_EQ(harness->output_time(ids[i]), harness->clock().GetCurrentTime()) << ids[i];
        }
    }
    Ref<mrvhost::Signature> three_distributions() {
        make("classifier");
        EXPECT_TRUE(harness->set_int(Count, 3));
        EXPECT_TRUE(harness->set_matrix(Matrix, 3, 4, three_rows));
        return harness->signature().clone();
    }
};

TEST_F(ProbabilisticClassifier, OutputsFollowTheNumberOfDistributions) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_matrix(Matrix, 2, 4, {0, 0, 1, 2, 1, 1, 3, 4}));
    h.clear_notifications();
    ASSERT_TRUE(h.set_int(Count, 3));
    EXPECT_EQ(output_ids(), (std::vector<std::string>{"rarityoutput_i", "rarityoutput_ii", "rarityoutput_iii"}));
    EXPECT_EQ(matrix(), (std::vector<double>{0, 0, 1, 2, 1, 1, 3, 4, 0, 0, 0, 0}));
    ASSERT_EQ(h.notifications().size(), 2u);
    EXPECT_EQ(h.notifications()[0].kind, Notification::ParameterChanged);
    EXPECT_EQ(h.notifications()[0].parameter_id, Matrix);
    EXPECT_EQ(h.notifications()[1].kind, Notification::SignatureChanged);
    ASSERT_TRUE(h.set_int(Count, 1));
    EXPECT_EQ(output_ids(), std::vector<std::string>{"rarityoutput_i"});
    EXPECT_EQ(matrix(), (std::vector<double>{0, 0, 1, 2}));
    ASSERT_TRUE(h.set_int(Count, 100));
    EXPECT_EQ(output_ids().back(), "rarityoutput_" + std::string(100, 'i'));
    h.set_running(true);  // N is fixed while running
    EXPECT_FALSE(h.set_int(Count, 4));
}

TEST_F(ProbabilisticClassifier, ChangingNAfterInitLeavesNoPinBehind) {
    three_distributions();
    run(0.5);
    harness->stop();
    ASSERT_TRUE(harness->set_int(Count, 2));  // design mode, still initialised
    harness->feed_double("classifierinput", 0.6);
    EXPECT_TRUE(harness->tick());  // the old outputs are gone: nothing is written
    harness->done();
    run(0.6);
    expect_scores({three_scores[0], three_scores[1]});
}

TEST_F(ProbabilisticClassifier, MatrixMustHaveOneRowOfFourPerOutput) {
    BlockHarness& h = make();
    EXPECT_FALSE(h.set_matrix(Matrix, 2, 3, {0, 0, 1, 0, 0, 1}));  // a new shape: refused
    EXPECT_FALSE(h.set_matrix(Matrix, 3, 4, three_rows));
    EXPECT_EQ(matrix(), std::vector<double>(8, 0.0));
    // A hand-edited save can still carry one.
    Ref<mrvhost::Signature> saved = h.signature().clone();
    Mrv::interface_cast<Mrv::IDoubleMatrix>(saved->find_parameter(Matrix)->GetValue())->Reinit(3, 4);
    restore(*saved, nullptr, "restored");
    harness->feed_double("classifierinput", 0.5);
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{
                  "CProbabilisticClassifier::Init -- The parameters matrix should be a (2x4) matrix, one row per "
                  "output.\n",
                  "Block restored: error in method Init\n"}));
}

// A saved instance scores the input against each row, with every output
// stamped; one whose outputs do not match N is declared afresh.
TEST_F(ProbabilisticClassifier, SavedInstanceScoresAsTheOriginalOrIsDeclaredAfresh) {
    const Ref<mrvhost::Signature> original = three_distributions();
    const std::string report =
        "Block restored: unhandled exception of type Mrv::IException in method InitInstance; exception message is ";
    struct Spoiled {
        std::function<void(mrvhost::Signature&)> spoil;
        std::string reason;  // "": restored as saved
    };
    const std::vector<Spoiled> cases = {
        {[](auto&) {}, ""},
        {[](auto& saved) { saved.RemoveOutput("rarityoutput_iii"); },
         "The item specified was not found in the collection.\nClass identifier (ClassID) of the searched item was "
         "\"rarityoutput_iii\".\n"},
        {[](auto& saved) { saved.AddOutput("extra", "", "", "kernel", "double", "", "", 0); },
         "CProbabilisticClassifier::CheckSignature -- The saved block has 4 outputs for 3 distributions.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Ref<mrvhost::Signature> saved = original->clone();
        c.spoil(*saved);
        restore(*saved, nullptr, "restored");
        EXPECT_EQ(harness->parameter_int(Count), 3);
        EXPECT_EQ(matrix(), three_rows);
        run(0.6);
        expect_scores(three_scores);
        EXPECT_EQ(harness->messages(), c.reason.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{report + c.reason + "\n"});
    }
}

TEST_F(ProbabilisticClassifier, SavedNumberOutsideItsRangeKeepsTheDefault) {
    restore_edited(Count, 1000);
    EXPECT_EQ(harness->parameter_int(Count), 2);
    EXPECT_EQ(output_ids().size(), 2u);
    const auto fatal = harness->messages(Mrv::LevelFatal);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_NE(fatal[0].find("CProbabilisticClassifier::CheckSignature -- The saved number of outputs (1000) is "
                            "outside 1..100.\n"),
              std::string::npos);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CProbabilisticClassifier::OnChangingParameter -- The number of outputs must "
                                       "be between 1 and 100. The old value will be kept.\n"});
}

}  // namespace
