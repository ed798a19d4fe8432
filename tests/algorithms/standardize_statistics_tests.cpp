// The statistics and the rounding shared by Standardize and Standardize2,
// linked directly, against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "blocks/standardize/statistics.h"

namespace {

using namespace Mrv::standardize;

TEST(StandardizeStatistics, ColumnMeansAndSampleVariances) {
    // Columns 1, 2, 3 (mean 2, variance 1) and 10, 10, 16 (mean 12, variance 12).
    const std::vector<double> training{1, 10, 2, 10, 3, 16};
    std::vector<double> means(2, -1.0), variances(2, -1.0);
    column_statistics(training.data(), 3, 2, means.data(), variances.data());
    EXPECT_EQ(means, (std::vector<double>{2, 12}));
    EXPECT_EQ(variances, (std::vector<double>{1, 12}));

    // One row divides 0 by 0, no rows gives means of 0/0: not a number.
    column_statistics(training.data(), 1, 2, means.data(), variances.data());
    EXPECT_EQ(means[1], 10.0);
    EXPECT_TRUE(std::isnan(variances[0]));
    column_statistics(training.data(), 0, 2, means.data(), variances.data());
    EXPECT_TRUE(std::isnan(means[0]));
}

TEST(StandardizeStatistics, ColumnDigitsAreTheLargestOfEachColumn) {
    const std::vector<std::int32_t> digits{1, 5, 3, 2, 2, 4};
    std::vector<std::int32_t> maxima(2, 0);
    column_maxima(digits.data(), 3, 2, maxima.data());
    EXPECT_EQ(maxima, (std::vector<std::int32_t>{3, 5}));
    column_maxima(digits.data(), 0, 2, maxima.data());
    EXPECT_EQ(maxima, (std::vector<std::int32_t>{3, 5}));
}

TEST(StandardizeStatistics, ZScoreAgainstTheTrainingSetAugmentedByTheInput) {
    // Training column 1, 2, 3: n = 3, mean 2, sample variance 1.
    EXPECT_EQ(z_score(2, 3, 2, 1), 0.0);
    // Input 6: augmented mean 3, variance 14/3 (that of 1, 2, 3, 6 over n).
    EXPECT_DOUBLE_EQ(z_score(6, 3, 2, 1), 3 / std::sqrt(14.0 / 3.0));
    // Input -2: augmented mean 1, variance ((-4) * (-3) + 2) / 3, the mirror image.
    EXPECT_DOUBLE_EQ(z_score(-2, 3, 2, 1), -3 / std::sqrt(14.0 / 3.0));
    // A constant column equal to the input: no spread, 0.0 rather than 0/0.
    EXPECT_EQ(z_score(5, 4, 5, 0), 0.0);
    EXPECT_EQ(rounded_z_score(5, 4, 5, 0, 3), 0.0);
    // One training row: the variance is not a number, and so is the result.
    EXPECT_TRUE(std::isnan(z_score(4, 1, 3, std::nan(""))));
    EXPECT_TRUE(std::isnan(rounded_z_score(4, 1, 3, std::nan(""), 2)));
}

TEST(StandardizeStatistics, RoundingToSignificantDigits) {
    const struct {
        double value;
        int digits;
        double rounded;
    } cases[] = {
        {123.456, 2, 120.0}, {-0.0123456, 3, -123 * 0.0001}, {0.0, -2, 0.0}, {0.0, 0, 0.0}, {0.0, 1, 0.0}, {0.0, 7, 0.0},
        // Halves go away from zero, on both sides.
        {2.5, 1, 3.0}, {-2.5, 1, -3.0}, {1234.5, 4, 1235.0}, {-1234.5, 4, -1235.0}, {-2.4, 1, -2.0},
        {99.96, 3, 100.0}, {7.0, 0, 10.0},  // rounding up can add a digit
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(round_significant(c.value, c.digits), c.rounded) << c.value << " to " << c.digits << " digits";
    EXPECT_TRUE(std::isnan(round_significant(std::nan(""), 3)));
}

TEST(StandardizeStatistics, RoundedZScoreRoundsMeanDeviationAndResult) {
    // Training 1, 2, 3 and input 6: mean 3, deviation sqrt(14/3) = 2.1602...
    // 3 digits: 3 / 2.16 = 1.3888... -> 1.39.
    EXPECT_DOUBLE_EQ(rounded_z_score(6, 3, 2, 1, 3), 1.39);
    // 2 digits: 3 / 2.2 = 1.3636... -> 1.4.
    EXPECT_DOUBLE_EQ(rounded_z_score(6, 3, 2, 1, 2), 1.4);

    // A row takes the larger of the feature's and the column's digits.
    const double features[] = {6, 6};
    const double means[] = {2, 2}, variances[] = {1, 1};
    const std::int32_t feature_digits[] = {1, 2}, column_digits[] = {3, 1};
    double out[2];
    standardize_row(features, 2, 3, means, variances, feature_digits, column_digits, out);
    EXPECT_DOUBLE_EQ(out[0], 1.39);
    EXPECT_DOUBLE_EQ(out[1], 1.4);
    standardize_row(features, 2, 3, means, variances, nullptr, column_digits, out);
    EXPECT_DOUBLE_EQ(out[1], 3 / std::sqrt(14.0 / 3.0));
}

}  // namespace
