#include "blocks/standardize/statistics.h"

#include <algorithm>
#include <cmath>

namespace Mrv {
namespace standardize {

void column_statistics(const double* data, std::int32_t rows, std::int32_t columns, double* means,
                       double* variances) {
    // Rows outer, columns inner: each column is still summed in row order,
    // and the matrix is walked the way it is stored.
    std::fill(means, means + columns, 0.0);
    std::fill(variances, variances + columns, 0.0);
    for (std::int32_t i = 0; i < rows; ++i) {
        const double* row = data + static_cast<std::ptrdiff_t>(i) * columns;
        for (std::int32_t j = 0; j < columns; ++j) means[j] += row[j];
    }
    for (std::int32_t j = 0; j < columns; ++j) means[j] /= rows;
    for (std::int32_t i = 0; i < rows; ++i) {
        const double* row = data + static_cast<std::ptrdiff_t>(i) * columns;
        for (std::int32_t j = 0; j < columns; ++j) {
            const double deviation = row[j] - means[j];
            variances[j] += deviation * deviation;
        }
    }
    for (std::int32_t j = 0; j < columns; ++j) variances[j] /= (rows - 1.0);
}

void column_maxima(const std::int32_t* digits, std::int32_t rows, std::int32_t columns, std::int32_t* maxima) {
    if (rows < 1) return;
    std::copy(digits, digits + columns, maxima);
    for (std::int32_t i = 1; i < rows; ++i) {
        const std::int32_t* row = digits + static_cast<std::ptrdiff_t>(i) * columns;
        for (std::int32_t j = 0; j < columns; ++j) maxima[j] = std::max(maxima[j], row[j]);
    }
}

double round_significant(double value, std::int32_t digits) {
    if (value == 0.0) return 0.0;
    const double scale = std::pow(10.0, std::floor(std::log10(std::fabs(value)) - digits + 1.0));
    const double scaled = value / scale;
    const double rounded = scaled < 0.0 ? std::ceil(scaled - 0.5) : std::floor(scaled + 0.5);
    return rounded * scale;
}

namespace {
// The mean and the sample variance (divisor n) of the n training values
// together with x, updated from the stored statistics.
struct augmented {
    double mean, variance;
    augmented(double x, double n, double m, double v)
        : mean((n * m + x) / (n + 1.0)), variance(((x - m) * (x - mean) + (n - 1.0) * v) / n) {}
};
}  // namespace

double z_score(double x, double n, double m, double v) {
    const augmented with_x(x, n, m, v);
    return with_x.variance == 0.0 ? 0.0 : (x - with_x.mean) / std::sqrt(with_x.variance);
}

double rounded_z_score(double x, double n, double m, double v, std::int32_t digits) {
    const augmented with_x(x, n, m, v);
    const double mean = round_significant(with_x.mean, digits);
    const double deviation = round_significant(std::sqrt(with_x.variance), digits);
    const double result = deviation == 0.0 ? 0.0 : (x - mean) / deviation;
    return round_significant(result, digits);
}

void standardize_row(const double* features, std::int32_t columns, std::int32_t n, const double* means,
                     const double* variances, const std::int32_t* feature_digits,
                     const std::int32_t* column_digits, double* out) {
    const double rows = n;
    if (!feature_digits) {
        for (std::int32_t j = 0; j < columns; ++j) out[j] = z_score(features[j], rows, means[j], variances[j]);
        return;
    }
    for (std::int32_t j = 0; j < columns; ++j)
        out[j] = rounded_z_score(features[j], rows, means[j], variances[j],
                                 std::max(feature_digits[j], column_digits[j]));
}

}  // namespace standardize
}  // namespace Mrv
