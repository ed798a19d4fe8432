// Membership of a value in a Gaussian bell or a logistic sigmoid, as the
// rows of ProbabilisticClassifier's parameters matrix describe them.
#pragma once

#include <cstddef>

namespace Mrv {
namespace distribution {

// Columns of one row of the parameters matrix.
enum column : std::size_t { type_column, flipped_column, center_column, spread_column, row_width };

constexpr double gaussian_type = 0.0;
constexpr double sigmoid_type = 1.0;

// The score of x against one row (row_width values), computed as written
// whatever the values (NaN, infinities and a spread of 0 give what the
// arithmetic gives):
// - Gaussian: exp(-(x - c)^2 / (2 s^2)), a bell with peak 1 at the center
//   and no normalising factor;
// - sigmoid: 1 / (1 + exp(-(x - c) s));
// - then 1 - p when the flipped column is exactly 1.
// A row whose type is neither 0 nor 1 describes no curve and scores 0.
double membership(const double* row, double x);

}  // namespace distribution
}  // namespace Mrv
