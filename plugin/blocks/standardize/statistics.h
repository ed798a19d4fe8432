// Z-scores against a training set: per-column statistics, the statistics
// augmented by the value being standardized, and rounding to significant
// digits. Shared by Standardize and Standardize2.
#pragma once

#include <cstdint>

namespace Mrv {
namespace standardize {

// Mean and sample variance (divisor rows - 1) of every column of a
// row-major rows x columns matrix, each summed in row order. One row gives
// variances of 0/0 and no rows gives means of 0/0: not a number, on purpose,
// so that an unusable training set shows in every output.
void column_statistics(const double* data, std::int32_t rows, std::int32_t columns, double* means,
                       double* variances);

// The largest value of every column of a row-major digits matrix; columns
// of a matrix without rows are left as they are.
void column_maxima(const std::int32_t* digits, std::int32_t rows, std::int32_t columns, std::int32_t* maxima);

// `value` rounded to `digits` significant digits, a half away from zero;
// 0.0 stays 0.0.
double round_significant(double value, std::int32_t digits);

// The z-score of x against n training values of mean m and sample variance
// v, the standard deviation taken over the n values together with x;
// 0.0 when they are all equal.
double z_score(double x, double n, double m, double v);
// The same with the mean, the standard deviation and the result rounded to
// `digits` significant digits.
double rounded_z_score(double x, double n, double m, double v, std::int32_t digits);

// Standardizes a row of `columns` features against the statistics of n
// training rows. With `feature_digits` (one per column) the results are
// rounded to the larger of the feature's and the column's digits;
// `feature_digits` null means no rounding and `column_digits` is unused.
void standardize_row(const double* features, std::int32_t columns, std::int32_t n, const double* means,
                     const double* variances, const std::int32_t* feature_digits,
                     const std::int32_t* column_digits, double* out);

}  // namespace standardize
}  // namespace Mrv
