// Histograms of a buffered sequence over a fixed range [lo, hi] cut into
// equal bins; the sequence may be cut into consecutive segments, one
// histogram each.
#pragma once

#include <cstddef>

namespace Mrv {
namespace sequence {

// The bin that counts v: values at or below lo go to the first bin, values
// at or above hi (infinities included) to the last; -1 for a value that is
// not a number. A value just below hi whose position rounds up to `bins`
// stays in the last bin, so no index ever leaves [0, bins).
inline std::ptrdiff_t bin_of(double v, double lo, double hi, std::size_t bins) {
    const auto last = static_cast<std::ptrdiff_t>(bins) - 1;
    if (v <= lo) return 0;
    if (v >= hi) return last;
    if (!(v < hi)) return -1;  // not a number
    const double position = (static_cast<double>(bins) * (v - lo)) / (hi - lo);
    // A range too wide for the arithmetic gives inf/inf: the first bin.
    if (!(position > 0.0)) return 0;
    const auto bin = static_cast<std::ptrdiff_t>(position < static_cast<double>(bins) ? position : last);
    return bin < last ? bin : last;
}

// Centre j of `bins` bins over [lo, hi]: j * w + lo + w / 2.
void bin_centres(double lo, double hi, std::size_t bins, double* centres);

// Counts the n values into `histogram_count` histograms of `bins` cells
// each (histograms[h] points at histogram h). Value k belongs to histogram
// floor(histogram_count * k / n); every cell is set to 0 first. bins must
// be at least 1.
void count(const double* values, std::size_t n, double lo, double hi, std::size_t bins, double* const* histograms,
           std::size_t histogram_count);

// Divides a histogram by (sum of its cells) * |(hi - lo) / bins|, so that
// counts times bin width sum to 1. A histogram that counted no value keeps
// its zeros; one that did is divided whatever the width, so a range of
// zero width gives infinities and NaN as the division does.
void normalise(double* histogram, std::size_t bins, double lo, double hi);

}  // namespace sequence
}  // namespace Mrv
