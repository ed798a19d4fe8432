// VectorRescaler through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <cmath>

#include "host/harness.h"
#include "host/live_objects.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Plugin;

class VectorRescaler : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { harness.reset(); }
    BlockHarness& make() {
        harness = std::make_unique<BlockHarness>(plugin.find_class("VectorRescaler"), "rescaler");
        harness->init_instance();
        return *harness;
    }
    // Feeds a vector and ranges, runs Init..Start; Init's result.
    bool prepare(int rows, int columns, const std::vector<double>& input, int range_rows,
                 const std::vector<double>& ranges) {
        make();
        harness->feed_matrix("InputVector", rows, columns, input);
        harness->feed_matrix("InputRanges", range_rows, 2, ranges);
        return harness->begin();
    }

    Plugin plugin{Plugin::default_path()};
    std::unique_ptr<BlockHarness> harness;
};

TEST_F(VectorRescaler, DeclaresItsPinsAndParameters) {
    BlockHarness& h = make();
    auto& signature = h.signature();
    ASSERT_EQ(signature.GetInputs()->GetCount(), 2);
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetId(), "InputVector");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetName(), "Input Vector");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetDescription(), "Input vector");
    EXPECT_TRUE(signature.GetInputs()->GetItem(0)->IsRequired());
    EXPECT_STREQ(signature.GetInputs()->GetItem(1)->GetName(), "Input Ranges");
    EXPECT_STREQ(signature.GetInputs()->GetItem(1)->GetDescription(), "Ranges of each item in the input vector");
    ASSERT_EQ(signature.GetOutputs()->GetCount(), 1);
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetName(), "Output Vector");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetDatatypeClassId(), "double-matrix");
    ASSERT_EQ(signature.GetParameters()->GetCount(), 2);
    EXPECT_STREQ(signature.GetParameters()->GetItem(0)->GetName(), "Lower bound");
    EXPECT_STREQ(signature.GetParameters()->GetItem(1)->GetDescription(), "Upper bound of the rescaled vector");
    EXPECT_EQ(h.parameter_double("OutputLowBound"), -1.0);
    EXPECT_EQ(h.parameter_double("OutputHighBound"), 1.0);
    EXPECT_EQ(signature.GetParameters()->GetItem(0)->GetDomain(), nullptr);
    // Only the vector drives execution.
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0].first, "InputVector");
    EXPECT_EQ(h.status().driving_inputs()[0].second, 1);
}

TEST_F(VectorRescaler, RescalesOntoTheDefaultBounds) {
    ASSERT_TRUE(prepare(1, 3, {0, 5, 10}, 3, {0, 10, 0, 10, 0, 10}));
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), (std::vector<double>{-1, 0, 1}));
    EXPECT_EQ(harness->output_time("OutputVector"), harness->clock().GetCurrentTime());
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(VectorRescaler, EachElementHasItsOwnRangeAndExtrapolates) {
    ASSERT_TRUE(prepare(3, 1, {2, -1, 30}, 3, {0, 4, -3, 1, 0, 10}));
    ASSERT_TRUE(harness->set_double("OutputLowBound", 0.0));
    ASSERT_TRUE(harness->tick());
    const auto out = harness->output_values("OutputVector");
    EXPECT_DOUBLE_EQ(out[0], 0.5);
    EXPECT_DOUBLE_EQ(out[1], 0.5);
    EXPECT_DOUBLE_EQ(out[2], 3.0);  // above its maximum: beyond H, no clipping
    EXPECT_EQ(harness->output_matrix("OutputVector")->GetHeight(), 3);
    EXPECT_EQ(harness->output_matrix("OutputVector")->GetWidth(), 1);
}

TEST_F(VectorRescaler, ScalarInputIsAVectorOfOne) {
    ASSERT_TRUE(prepare(1, 1, {7.5}, 1, {5, 10}));
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), std::vector<double>{0.0});
}

TEST_F(VectorRescaler, ZeroWidthRangeGoesToTheMiddle) {
    ASSERT_TRUE(prepare(1, 2, {3, 3}, 2, {3, 3, 0, 1}));
    ASSERT_TRUE(harness->tick());
    const auto out = harness->output_values("OutputVector");
    EXPECT_EQ(out[0], 0.0);
    EXPECT_TRUE(std::isfinite(out[1]));
}

TEST_F(VectorRescaler, MatrixInputIsRefused) {
    EXPECT_FALSE(prepare(2, 3, {1, 2, 3, 4, 5, 6}, 6, std::vector<double>(12, 0.0)));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"CVectorRescaler::Init -- A vector should be provided as input, not a mtrix.\n",
                                        "Block rescaler: error in method Init\n"}));
}

TEST_F(VectorRescaler, RangesOfTheWrongShapeAreRefused) {
    make();
    harness->feed_matrix("InputVector", 1, 3, {1, 2, 3});
    harness->feed_matrix("InputRanges", 3, 3, std::vector<double>(9, 1.0));
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError)[0], "CVectorRescaler::Init -- Ranges should be provided as a (3x2) matrix.\n");
}

TEST_F(VectorRescaler, BoundsStayOrdered) {
    BlockHarness& h = make();
    EXPECT_FALSE(h.set_double("OutputLowBound", 1.0));  // equal to the upper bound
    EXPECT_FALSE(h.set_double("OutputHighBound", -2.0));
    EXPECT_EQ(h.parameter_double("OutputLowBound"), -1.0);
    EXPECT_EQ(h.parameter_double("OutputHighBound"), 1.0);
    EXPECT_EQ(h.messages(Mrv::LevelError),
              (std::vector<std::string>{
                  "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old "
                  "values will be kept.\n",
                  "CVectorRescaler::OnChangingParameter -- The upper bound is lower than the lower bound. The old "
                  "values will be kept.\n"}));
    EXPECT_TRUE(h.set_double("OutputHighBound", 5.0));
    EXPECT_TRUE(h.set_double("OutputLowBound", 4.0));
}

TEST_F(VectorRescaler, BoundsChangedWhileRunningApplyAtTheNextTick) {
    ASSERT_TRUE(prepare(1, 2, {0, 10}, 2, {0, 10, 0, 10}));
    harness->set_running(true);
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(harness->set_double("OutputHighBound", 3.0));
    harness->touch("InputVector");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), (std::vector<double>{-1, 3}));
}

TEST_F(VectorRescaler, NonDoubleBoundIsRefusedWithATrace) {
    BlockHarness& h = make();
    mrvhost::Ref<Mrv::IDatatype> text = mrvhost::Ref<Mrv::IDatatype>::adopt(mrvhost::create_datatype("kernel", "string"));
    EXPECT_FALSE(h.propose("OutputLowBound", text.get()));
    EXPECT_EQ(h.messages(Mrv::LevelTrace), std::vector<std::string>{"Invalid type cast.\n"});
}

TEST_F(VectorRescaler, SavedInstanceRestoresItsBounds) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_double("OutputHighBound", 4.0));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    BlockHarness restored(plugin.find_class("VectorRescaler"), "again");
    restored.init_instance(*saved);
    EXPECT_EQ(restored.parameter_double("OutputHighBound"), 4.0);
    restored.feed_matrix("InputVector", 1, 2, {0, 10});
    restored.feed_matrix("InputRanges", 2, 2, {0, 10, 0, 10});
    ASSERT_TRUE(restored.begin());
    ASSERT_TRUE(restored.tick());
    EXPECT_EQ(restored.output_values("OutputVector"), (std::vector<double>{-1, 4}));
    EXPECT_TRUE(restored.messages().empty());
}

TEST_F(VectorRescaler, InputReshapedWhileRunningIsNotReadPastItsEnd) {
    ASSERT_TRUE(prepare(1, 3, {0, 5, 10}, 3, {0, 10, 0, 10, 0, 10}));
    harness->feed_matrix("InputRanges", 1, 2, {0, 10});
    harness->touch("InputVector");
    EXPECT_TRUE(harness->tick());
    EXPECT_EQ(harness->messages(Mrv::LevelWarning).size(), 1u);
}

}  // namespace

namespace {

// Users stop a patch, edit a bound and start again: the bounds are still
// checked against each other and the new one is used.
TEST_F(VectorRescaler, BoundsEditedAfterARunAreCheckedAndUsedByTheNextRun) {
    ASSERT_TRUE(prepare(1, 2, {0, 10}, 2, {0, 10, 0, 10}));
    ASSERT_TRUE(harness->tick());
    harness->stop();
    harness->done();
    EXPECT_FALSE(harness->set_double("OutputLowBound", 1.0));
    EXPECT_TRUE(harness->set_double("OutputHighBound", 3.0));
    ASSERT_TRUE(harness->begin());
    harness->touch("InputVector");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), (std::vector<double>{-1, 3}));
}

TEST_F(VectorRescaler, BoundsEditedAfterAFailedInitAreStillChecked) {
    EXPECT_FALSE(prepare(2, 2, {1, 2, 3, 4}, 4, std::vector<double>(8, 0.0)));
    harness->done();
    harness->clear_notifications();
    EXPECT_FALSE(harness->set_double("OutputHighBound", -1.0));
    EXPECT_EQ(harness->messages(Mrv::LevelError).size(), 1u);
    EXPECT_TRUE(harness->set_double("OutputLowBound", 0.5));
}

}  // namespace
