// VectorRescaler through the dlopen'ed plug-in: the ranges it reads, its
// bounds and what it refuses (the mapping's numbers are the algorithm
// tests').
#include <gtest/gtest.h>

#include "plugin/block_test.h"

namespace {

class VectorRescaler : public BlockTest {
protected:
    VectorRescaler() : BlockTest("VectorRescaler") {}

    // Feeds a vector and ranges, runs Init..Start; Init's result.
    bool prepare(int rows, int columns, const std::vector<double>& input, int range_rows, int range_columns,
                 const std::vector<double>& ranges) {
        make("rescaler");
        harness->feed_matrix("InputVector", rows, columns, input);
        harness->feed_matrix("InputRanges", range_rows, range_columns, ranges);
        return harness->begin();
    }
    std::vector<double> rescaled() {
        harness->touch("InputVector");
        EXPECT_TRUE(harness->tick());
        return harness->output_values("OutputVector");
    }
};

TEST_F(VectorRescaler, EachElementHasItsOwnRange) {
    ASSERT_TRUE(prepare(3, 1, {2, -1, 30}, 3, 2, {0, 4, -3, 1, 0, 10}));
    EXPECT_EQ(rescaled(), (std::vector<double>{0, 0, 5}));
    EXPECT_EQ(harness->output_matrix("OutputVector")->GetHeight(), 3);
    EXPECT_EQ(harness->output_time("OutputVector"), harness->clock().GetCurrentTime());
    EXPECT_TRUE(harness->messages().empty());
    // Bounds changed while running apply at the next tick.
    harness->set_running(true);
    ASSERT_TRUE(harness->set_double("OutputLowBound", 0.0));
    EXPECT_EQ(rescaled(), (std::vector<double>{0.5, 0.5, 3}));
}

TEST_F(VectorRescaler, InputsOfTheWrongShapeAreRefused) {
    const struct {
        int rows, columns, range_rows, range_columns;
        std::string message;
    } cases[] = {
        {2, 3, 6, 2, "CVectorRescaler::Init -- A vector should be provided as input, not a mtrix.\n"},
        {1, 3, 3, 3, "CVectorRescaler::Init -- Ranges should be provided as a (3x2) matrix.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(prepare(c.rows, c.columns, std::vector<double>(c.rows * c.columns, 1.0), c.range_rows,
                             c.range_columns, std::vector<double>(c.range_rows * c.range_columns, 1.0)));
        EXPECT_EQ(harness->messages(Mrv::LevelError),
                  (std::vector<std::string>{c.message, "Block rescaler: error in method Init\n"}));
    }
    // Ranges that shrink while running are not read past their end.
    ASSERT_TRUE(prepare(1, 3, {0, 5, 10}, 3, 2, {0, 10, 0, 10, 0, 10}));
    harness->feed_matrix("InputRanges", 1, 2, {0, 10});
    rescaled();
    EXPECT_EQ(harness->messages(Mrv::LevelWarning).size(), 1u);
}

// Checked against each other before a run, after one and after a failed
// Init; the next run uses the new one.
TEST_F(VectorRescaler, BoundsStayOrdered) {
    EXPECT_FALSE(prepare(2, 2, {1, 2, 3, 4}, 4, 2, std::vector<double>(8, 0.0)));
    harness->done();
    harness->clear_notifications();
    EXPECT_FALSE(harness->set_double("OutputLowBound", 1.0));  // equal to the upper bound
    EXPECT_FALSE(harness->set_double("OutputHighBound", -2.0));
    EXPECT_EQ(harness->parameter_double("OutputLowBound"), -1.0);
    EXPECT_EQ(harness->parameter_double("OutputHighBound"), 1.0);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{
                  "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old "
                  "values will be kept.\n",
                  "CVectorRescaler::OnChangingParameter -- The upper bound is lower than the lower bound. The old "
                  "values will be kept.\n"}));

    ASSERT_TRUE(prepare(1, 2, {0, 10}, 2, 2, {0, 10, 0, 10}));
    ASSERT_TRUE(harness->tick());
    harness->stop();
    harness->done();
    EXPECT_FALSE(harness->set_double("OutputLowBound", 1.0));
    EXPECT_TRUE(harness->set_double("OutputHighBound", 3.0));
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(rescaled(), (std::vector<double>{-1, 3}));
}

}  // namespace
