// Per-attribute linear rescaling onto a common interval.
#pragma once

#include <cstddef>

namespace Mrv {
namespace rescale {

// Maps x from [minimum, maximum] onto [low, high] along the line through
// (minimum, low) and (maximum, high), anchored at the maximum; values
// outside the range are extrapolated. A zero-width range has no line: the
// value goes to the middle of the target interval.
inline double map_value(double x, double minimum, double maximum, double low, double high) {
    if (maximum == minimum) return (low + high) / 2.0;
    return (high - low) / (maximum - minimum) * (x - maximum) + high;
}

// Rescales `count` elements; `ranges` holds (minimum, maximum) per element,
// row-major, as the training block publishes them.
void rescale_vector(const double* input, const double* ranges, std::size_t count, double low, double high,
                    double* output);

}  // namespace rescale
}  // namespace Mrv
