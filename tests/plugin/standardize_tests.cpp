// Standardize through the dlopen'ed plug-in: the training set and digits
// on pins, the inputs Mode adds, what Init refuses (the statistics are the
// algorithm tests').
#include "plugin/standardize_fixture.h"

#include <cmath>

namespace {

class Standardize : public StandardizeBlockTest {
protected:
    Standardize() : StandardizeBlockTest("Standardize") {}

    // Mode on or off, the inputs fed (digits only with Mode on); Init's result.
    bool prepare(const std::vector<double>& features, int training_rows, const std::vector<double>& training,
                 const std::vector<int>& feature_digits = {}, int digit_rows = 0,
                 const std::vector<int>& training_digits = {}) {
        make("std");
        const bool mode = !feature_digits.empty();
        EXPECT_TRUE(harness->set_bool("Mode", mode));
        const int columns = static_cast<int>(features.size());
        harness->feed_matrix("InFeatureVector", 1, columns, features);
        harness->feed_matrix("TrainingSet", training_rows, static_cast<int>(training.size()) / training_rows, training);
        if (mode) {
            feed_digits("SdFeatureVector", 1, static_cast<int>(feature_digits.size()), feature_digits);
            feed_digits("SdTrainingSet", digit_rows, static_cast<int>(training_digits.size()) / digit_rows,
                        training_digits);
        }
        return harness->begin();
    }
    std::vector<double> output() { return harness->output_values("OutFeatureVector"); }
};

TEST_F(Standardize, ModeAddsAndRemovesTheDigitInputs) {
    make("std");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet", "SdFeatureVector", "SdTrainingSet"}));
    EXPECT_EQ(harness->status().driving_inputs().size(), 2u);  // the digits drive nothing
    EXPECT_EQ(signature_changes(), 1);
    mrvhost::Ref<mrvhost::Signature> saved = harness->signature().clone();
    ASSERT_TRUE(harness->set_bool("Mode", false));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet"}));
    EXPECT_EQ(signature_changes(), 2);
    restore(*saved, nullptr, "std");  // a saved instance keeps its digit inputs
    EXPECT_EQ(input_ids().size(), 4u);
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Standardize, ZScoresAgainstTheTrainingSetOfTheTick) {
    ASSERT_TRUE(prepare({6, 10}, 3, {1, 10, 2, 10, 3, 10}));
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], 3 / std::sqrt(14.0 / 3.0));
    EXPECT_EQ(output()[1], 0.0);
    EXPECT_EQ(harness->output_time("OutFeatureVector"), harness->clock().GetCurrentTime());
    // A new training set is used from the tick it arrives.
    harness->feed_matrix("TrainingSet", 3, 2, {5, 10, 6, 10, 7, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output()[0], 0.0);
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Standardize, RoundsToTheLargerNumberOfSignificantDigits) {
    ASSERT_TRUE(prepare({6, 6}, 3, {1, 1, 2, 2, 3, 3}, {1, 2}, 3, {1, 1, 3, 1, 2, 1}));
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], 1.39);
    EXPECT_DOUBLE_EQ(output()[1], 1.4);
    // New training digits alone: the training set's data query answers
    // false, so the column digits stay; they are taken with the next
    // training set.
    feed_digits("SdTrainingSet", 3, 2, {1, 1, 1, 1, 1, 1});
    harness->touch("InFeatureVector");
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], 1.39);
    harness->touch("TrainingSet");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output()[0], 2.0);
    EXPECT_DOUBLE_EQ(output()[1], 1.4);
}

TEST_F(Standardize, InitRefusesMatricesOfTheWrongShape) {
    EXPECT_FALSE(prepare({1, 2, 3}, 3, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector and the input training set should have the same number of "
                         "columns (attributes).\n"));
    EXPECT_FALSE(prepare({1, 2}, 3, {1, 2, 3, 4, 5, 6}, {1, 1, 1}, 3, {1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector and its vector of significant digits should have the same "
                         "dimensions.\n"));
    EXPECT_FALSE(prepare({1, 2}, 3, {1, 2, 3, 4, 5, 6}, {1, 1}, 2, {1, 1, 1, 1}));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input training set and its matrix of significant digits should have the same "
                         "dimensions.\n"));
    make("std");
    harness->feed_matrix("InFeatureVector", 2, 2, {1, 2, 3, 4});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector should be a row vector, each column representing an attribute.\n"));
}

TEST_F(Standardize, MatricesReshapedWhileRunningAreNotReadPastTheirEnd) {
    ASSERT_TRUE(prepare({6, 10}, 3, {1, 10, 2, 10, 3, 10}));
    ASSERT_TRUE(harness->tick());
    const auto before = output();
    harness->feed_matrix("TrainingSet", 1, 1, {7});
    ASSERT_TRUE(harness->tick());
    harness->feed_matrix("InFeatureVector", 1, 1, {7});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 10, 2, 10, 3, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output(), before);
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{"The input shapes changed after Init; the output is not updated.\n"});
}

}  // namespace
