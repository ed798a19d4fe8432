// ProbabilisticClassifier through the dlopen'ed plug-in and the substitute
// host: declarations, scores, outputs that follow N, and restores.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <cmath>
#include <functional>

#include "host/harness.h"
#include "host/live_objects.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Notification;
using mrvhost::Plugin;
using mrvhost::Ref;

const char* const Count = "raritynumberinputid";
const char* const Matrix = "classifiermatrixparameter";

// Three distributions: a bell at 0.5, a rising sigmoid and a flipped one.
const std::vector<double> three_rows = {0, 0, 0.5, 0.1, 1, 0, 0.5, 10, 1, 1, 0.5, 10};

std::vector<std::string> output_ids(BlockHarness& h) {
    std::vector<std::string> ids;
    for (const auto& pin : h.signature().outputs().items()) ids.push_back(pin->GetId());
    return ids;
}

std::vector<double> matrix_of(BlockHarness& h) {
    auto* matrix = Mrv::interface_cast<Mrv::IDoubleMatrix>(h.parameter(Matrix).GetValue());
    return {matrix->GetReadPointer(), matrix->GetReadPointer() + matrix->GetHeight() * matrix->GetWidth()};
}

class ProbabilisticClassifier : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override {
        restored.reset();
        harness.reset();
    }
    BlockHarness& make(const char* name = "classifier") {
        harness = std::make_unique<BlockHarness>(plugin.find_class("probabilisticclassifier"), name);
        harness->init_instance();
        return *harness;
    }
    // A block with three distributions, run once on x.
    BlockHarness& three_distributions(double x) {
        make();
        EXPECT_TRUE(harness->set_int(Count, 3));
        EXPECT_TRUE(harness->set_matrix(Matrix, 3, 4, three_rows));
        harness->feed_double("classifierinput", x);
        EXPECT_TRUE(harness->begin());
        EXPECT_TRUE(harness->tick());
        return *harness;
    }
    std::vector<double> outputs(BlockHarness& h) {
        std::vector<double> values;
        for (const auto& id : output_ids(h)) values.push_back(h.output_double(id));
        return values;
    }
    // A restore from `saved`, run on x.
    BlockHarness& restore(mrvhost::Signature& saved, double x) {
        restored = std::make_unique<BlockHarness>(plugin.find_class("probabilisticclassifier"), "restored");
        restored->init_instance(saved);
        restored->feed_double("classifierinput", x);
        restored->begin();
        restored->tick();
        return *restored;
    }

    Plugin plugin{Plugin::default_path()};
    std::unique_ptr<BlockHarness> harness, restored;
};

TEST_F(ProbabilisticClassifier, DeclaresItsPinsAndParameters) {
    BlockHarness& h = make();
    auto& signature = h.signature();
    ASSERT_EQ(signature.GetInputs()->GetCount(), 1);
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetId(), "classifierinput");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetName(), "Input data");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetDescription(), "This is the input value to be classified.");
    EXPECT_EQ(output_ids(h), (std::vector<std::string>{"rarityoutput_i", "rarityoutput_ii"}));
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetName(), "Output data");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetDescription(), "Output data");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetDatatypeClassId(), "double");
    ASSERT_EQ(signature.GetParameters()->GetCount(), 2);
    auto& count = h.parameter(Count);
    EXPECT_STREQ(count.GetName(), "Number of input/output");
    EXPECT_EQ(h.parameter_int(Count), 2);
    EXPECT_EQ(count.domain_class_id(), "int-domain");
    EXPECT_FALSE(count.GetAttribute(3));
    auto& matrix = h.parameter(Matrix);
    EXPECT_STREQ(matrix.GetName(), "Parameters matrix");
    EXPECT_EQ(std::string(matrix.GetDescription()).substr(0, 76),
              "A matrix containg the parameters of the distributions, every line is:\n(type,");
    EXPECT_TRUE(matrix.GetAttribute(3));
    EXPECT_FALSE(matrix.GetAttribute(4));
    EXPECT_EQ(matrix_of(h), std::vector<double>(8, 0.0));
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0], (std::pair<std::string, Mrv::int32>{"classifierinput", 1}));
}

TEST_F(ProbabilisticClassifier, ScoresTheInputAgainstEachRow) {
    BlockHarness& h = three_distributions(0.6);
    const auto values = outputs(h);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_NEAR(values[0], 0.6065306597, 1e-10);
    EXPECT_NEAR(values[1], 0.7310585786, 1e-10);
    EXPECT_NEAR(values[2], 0.2689414214, 1e-10);
    EXPECT_EQ(h.output_time("rarityoutput_iii"), h.clock().GetCurrentTime());
    EXPECT_TRUE(h.messages().empty());
    // Outside [0, 1] is scored as well.
    h.feed_double("classifierinput", -2.0);
    ASSERT_TRUE(h.tick());
    EXPECT_NEAR(h.output_double("rarityoutput_ii"), 1.0 / (1.0 + std::exp(25.0)), 1e-15);
}

TEST_F(ProbabilisticClassifier, OutputsFollowTheNumberOfDistributions) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_matrix(Matrix, 2, 4, {0, 0, 1, 2, 1, 1, 3, 4}));
    h.clear_notifications();
    ASSERT_TRUE(h.set_int(Count, 3));
    EXPECT_EQ(output_ids(h), (std::vector<std::string>{"rarityoutput_i", "rarityoutput_ii", "rarityoutput_iii"}));
    EXPECT_EQ(matrix_of(h), (std::vector<double>{0, 0, 1, 2, 1, 1, 3, 4, 0, 0, 0, 0}));
    ASSERT_EQ(h.notifications().size(), 2u);
    EXPECT_EQ(h.notifications()[0].kind, Notification::ParameterChanged);
    EXPECT_EQ(h.notifications()[0].parameter_id, Matrix);
    EXPECT_EQ(h.notifications()[1].kind, Notification::SignatureChanged);

    ASSERT_TRUE(h.set_int(Count, 1));
    EXPECT_EQ(output_ids(h), std::vector<std::string>{"rarityoutput_i"});
    EXPECT_EQ(matrix_of(h), (std::vector<double>{0, 0, 1, 2}));
    ASSERT_TRUE(h.set_int(Count, 100));
    EXPECT_EQ(output_ids(h).back(), "rarityoutput_" + std::string(100, 'i'));
    EXPECT_EQ(h.signature().GetOutputs()->GetCount(), 100);

    // 0 and 1000 never reach the block: the domain refuses them.
    EXPECT_FALSE(h.set_int(Count, 0));
    EXPECT_FALSE(h.set_int(Count, 1000));
    EXPECT_EQ(h.parameter_int(Count), 100);
    // N is fixed while running.
    h.set_running(true);
    EXPECT_FALSE(h.set_int(Count, 4));
}

TEST_F(ProbabilisticClassifier, ChangingNAfterInitLeavesNoPinBehind) {
    BlockHarness& h = three_distributions(0.5);
    h.stop();
    ASSERT_TRUE(h.set_int(Count, 2));  // design mode, still initialised
    h.feed_double("classifierinput", 0.6);
    EXPECT_TRUE(h.tick());  // the old outputs are gone: nothing is written
    h.done();
    ASSERT_TRUE(h.begin());
    h.touch("classifierinput");
    ASSERT_TRUE(h.tick());
    ASSERT_EQ(outputs(h).size(), 2u);
    EXPECT_NEAR(outputs(h)[1], 0.7310585786, 1e-10);
}

TEST_F(ProbabilisticClassifier, MatrixMustHaveOneRowOfFourPerOutput) {
    BlockHarness& h = make();
    EXPECT_FALSE(h.set_matrix(Matrix, 2, 3, {0, 0, 1, 0, 0, 1}));  // a new shape: refused
    EXPECT_FALSE(h.set_matrix(Matrix, 3, 4, three_rows));
    EXPECT_EQ(matrix_of(h), std::vector<double>(8, 0.0));
    // A hand-edited save can still carry one.
    Ref<mrvhost::Signature> saved = h.signature().clone();
    Mrv::interface_cast<Mrv::IDoubleMatrix>(saved->find_parameter(Matrix)->GetValue())->Reinit(3, 4);
    restore(*saved, 0.5);
    EXPECT_EQ(restored->messages(Mrv::LevelError),
              (std::vector<std::string>{
                  "CProbabilisticClassifier::Init -- The parameters matrix should be a (2x4) matrix, one row per "
                  "output.\n",
                  "Block restored: error in method Init\n"}));
}

TEST_F(ProbabilisticClassifier, InitReportsWhatWentWrongAsAnError) {
    BlockHarness& h = make();
    h.signature().RemoveOutput("rarityoutput_ii");  // taken away behind the block's back
    h.feed_double("classifierinput", 0.5);
    EXPECT_FALSE(h.init());
    EXPECT_EQ(h.messages(Mrv::LevelError),
              (std::vector<std::string>{"The item specified was not found in the collection.\nClass identifier "
                                        "(ClassID) of the searched item was \"rarityoutput_ii\".\n",
                                        "Block classifier: error in method Init\n"}));
}

// Every row scores by its formula, whatever it holds; a row of another
// type scores 0. The block says nothing of its own.
TEST_F(ProbabilisticClassifier, RowsScoreAsTheFormulasGive) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_int(Count, 5));
    ASSERT_TRUE(h.set_matrix(Matrix, 5, 4, {1, 0, 0.5, 10, 2, 1, 0.5, 10, 0, 0, 0.5, 0, 0, 0, 0.5, -0.1, 1, 0, NAN, 1}));
    h.feed_double("classifierinput", 0.6);
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.tick());
    auto values = outputs(h);
    EXPECT_NEAR(values[0], 0.7310585786, 1e-10);
    EXPECT_EQ(values[1], 0.0);                    // not the previous row's value
    EXPECT_EQ(values[2], 0.0);                    // exp(-0.01 / 0)
    EXPECT_NEAR(values[3], 0.6065306597, 1e-10);  // exp(-0.01 / 0.02)
    EXPECT_TRUE(std::isnan(values[4]));
    h.feed_double("classifierinput", 0.5);
    ASSERT_TRUE(h.tick());
    EXPECT_TRUE(std::isnan(outputs(h)[2]));  // exp(-0 / 0)
    EXPECT_TRUE(h.messages().empty());
}

// An infinite steepness or deviation is still a curve: a step at the
// center, a flat bell. The formulas give their values.
TEST_F(ProbabilisticClassifier, InfiniteSpreadsFollowTheFormulas) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_int(Count, 4));
    // A step, a flat bell, a flipped step, a sigmoid centred at minus infinity.
    ASSERT_TRUE(h.set_matrix(Matrix, 4, 4,
                             {1, 0, 0.5, INFINITY, 0, 0, 0.5, INFINITY, 1, 1, 0.5, INFINITY, 1, 0, -INFINITY, 10}));
    h.feed_double("classifierinput", 0.6);
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.tick());
    EXPECT_EQ(outputs(h), (std::vector<double>{1.0, 1.0, 0.0, 1.0}));
    h.feed_double("classifierinput", 0.4);
    ASSERT_TRUE(h.tick());
    EXPECT_EQ(outputs(h), (std::vector<double>{0.0, 1.0, 1.0, 1.0}));
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ProbabilisticClassifier, NotANumberInputGivesNotANumberOutputs) {
    BlockHarness& h = three_distributions(0.5);
    h.feed_double("classifierinput", NAN);
    ASSERT_TRUE(h.tick());
    for (double value : outputs(h)) EXPECT_TRUE(std::isnan(value));
    EXPECT_EQ(h.output_time("rarityoutput_iii"), h.clock().GetCurrentTime());
    h.feed_double("classifierinput", INFINITY);
    ASSERT_TRUE(h.tick());
    EXPECT_EQ(outputs(h), (std::vector<double>{0.0, 1.0, 0.0}));
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ProbabilisticClassifier, SavedInstanceWithThreeOutputsScoresAsTheOriginal) {
    BlockHarness& original = three_distributions(0.62);
    Ref<mrvhost::Signature> saved = original.signature().clone();
    BlockHarness& again = restore(*saved, 0.62);
    EXPECT_EQ(output_ids(again), output_ids(original));
    EXPECT_EQ(again.parameter_int(Count), 3);
    EXPECT_EQ(matrix_of(again), three_rows);
    EXPECT_EQ(outputs(again), outputs(original));
    EXPECT_TRUE(again.messages().empty());
    // And N still drives the pins after the restore.
    again.stop();
    again.done();
    ASSERT_TRUE(again.set_int(Count, 4));
    EXPECT_EQ(output_ids(again).size(), 4u);
    EXPECT_EQ(matrix_of(again).size(), 16u);
}

TEST_F(ProbabilisticClassifier, SavedDeclarationThatDoesNotFitIsDeclaredAfresh) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_int(Count, 3));
    ASSERT_TRUE(h.set_matrix(Matrix, 3, 4, three_rows));
    const std::string report =
        "Block restored: unhandled exception of type Mrv::IException in method InitInstance; exception message is ";
    struct Spoiled {
        std::function<void(mrvhost::Signature&)> spoil;
        std::string reason;
    };
    const std::vector<Spoiled> cases = {
        {[](auto& saved) { saved.RemoveOutput("rarityoutput_iii"); },
         "The item specified was not found in the collection.\nClass identifier (ClassID) of the searched item was "
         "\"rarityoutput_iii\".\n"},
        {[](auto& saved) { saved.AddOutput("extra", "", "", "kernel", "double", "", "", 0); },
         "CProbabilisticClassifier::CheckSignature -- The saved block has 4 outputs for 3 distributions.\n"},
    };
    for (const auto& c : cases) {
        Ref<mrvhost::Signature> saved = h.signature().clone();
        c.spoil(*saved);
        BlockHarness& again = restore(*saved, 0.6);
        EXPECT_EQ(output_ids(again), output_ids(h));
        EXPECT_EQ(matrix_of(again), three_rows);
        EXPECT_NEAR(again.output_double("rarityoutput_iii"), 0.2689414214, 1e-10);
        EXPECT_EQ(again.messages(Mrv::LevelFatal), std::vector<std::string>{report + c.reason + "\n"});
    }
}

TEST_F(ProbabilisticClassifier, SavedNumberOutsideItsRangeKeepsTheDefault) {
    BlockHarness& h = make();
    Ref<mrvhost::Signature> saved = h.signature().clone();
    Mrv::interface_cast<Mrv::IInt>(saved->find_parameter(Count)->GetValue())->SetValue(1000);
    BlockHarness& again = restore(*saved, 0.5);
    EXPECT_EQ(again.parameter_int(Count), 2);
    EXPECT_EQ(output_ids(again).size(), 2u);
    const auto fatal = again.messages(Mrv::LevelFatal);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_NE(fatal[0].find("CProbabilisticClassifier::CheckSignature -- The saved number of outputs (1000) is "
                            "outside 1..100.\n"),
              std::string::npos);
    EXPECT_EQ(again.messages(Mrv::LevelError),
              std::vector<std::string>{"CProbabilisticClassifier::OnChangingParameter -- The number of outputs must "
                                       "be between 1 and 100. The old value will be kept.\n"});
}

}  // namespace
