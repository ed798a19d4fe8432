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

// What is wrong with a row, if anything. A row with an unknown type or a
// center or spread that is not a number describes no distribution: it
// scores 0 whatever the input and whatever its flipped column says. An
// infinite center or spread is still a curve (a step, a flat bell) and
// scores by the formulas. A Gaussian with a spread of 0 or below still
// scores (see `membership`); the block warns.
enum class row_issue { none, unknown_type, not_a_number, zero_deviation, negative_deviation };

row_issue check_row(const double* row);

// The score of x against one row (row_width values):
// - Gaussian: exp(-(x - c)^2 / (2 s^2)), a bell with peak 1 at the center
//   and no normalising factor. A negative s gives the bell of |s|; s = 0
//   gives 1 at the center and 0 elsewhere.
// - sigmoid: 1 / (1 + exp(-(x - c) s)); an infinite x with s = 0, or x = c
//   with an infinite s, gives 0.5 (the flat curve's value, the step's middle).
// - then 1 - p when the flipped column is exactly 1.
// A NaN x gives NaN for a valid row.
double membership(const double* row, double x);

}  // namespace distribution
}  // namespace Mrv
