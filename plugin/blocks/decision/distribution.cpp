#include "blocks/decision/distribution.h"

#include <cmath>

namespace Mrv {
namespace distribution {
namespace {

double gaussian(double x, double center, double deviation) {
    const double distance = x - center;
    if (deviation == 0.0) return distance == 0.0 ? 1.0 : 0.0;
    return std::exp(-(distance * distance) / (2.0 * deviation * deviation));
}

double sigmoid(double x, double center, double steepness) {
    const double exponent = (x - center) * steepness;
    // An infinite distance on a flat curve, or the center of a step.
    if (std::isnan(exponent) && !std::isnan(x)) return 0.5;
    return 1.0 / (1.0 + std::exp(-exponent));
}

}  // namespace

row_issue check_row(const double* row) {
    const double type = row[type_column];
    if (type != gaussian_type && type != sigmoid_type) return row_issue::unknown_type;
    if (std::isnan(row[center_column]) || std::isnan(row[spread_column])) return row_issue::not_a_number;
    if (type == gaussian_type && row[spread_column] == 0.0) return row_issue::zero_deviation;
    if (type == gaussian_type && row[spread_column] < 0.0) return row_issue::negative_deviation;
    return row_issue::none;
}

double membership(const double* row, double x) {
    const row_issue issue = check_row(row);
    if (issue == row_issue::unknown_type || issue == row_issue::not_a_number) return 0.0;
    const double p = row[type_column] == gaussian_type ? gaussian(x, row[center_column], row[spread_column])
                                                       : sigmoid(x, row[center_column], row[spread_column]);
    return row[flipped_column] == 1.0 ? 1.0 - p : p;
}

}  // namespace distribution
}  // namespace Mrv
