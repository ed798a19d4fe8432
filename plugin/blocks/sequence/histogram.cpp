#include "blocks/sequence/histogram.h"

#include <algorithm>
#include <cmath>

namespace Mrv {
namespace sequence {

void bin_centres(double lo, double hi, std::size_t bins, double* centres) {
    const double width = (hi - lo) / static_cast<double>(bins);
    for (std::size_t j = 0; j < bins; ++j) centres[j] = static_cast<double>(j) * width + lo + width * 0.5;
}

void count(const double* values, std::size_t n, double lo, double hi, std::size_t bins, double* const* histograms,
           std::size_t histogram_count) {
    for (std::size_t h = 0; h < histogram_count; ++h) std::fill(histograms[h], histograms[h] + bins, 0.0);
    if (histogram_count == 0 || bins == 0) return;
    const double segments = static_cast<double>(histogram_count);
    const double length = static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::ptrdiff_t bin = bin_of(values[k], lo, hi, bins);
        if (bin < 0) continue;
        auto h = static_cast<std::size_t>(segments * (static_cast<double>(k) / length));
        if (h >= histogram_count) h = histogram_count - 1;
        histograms[h][bin] += 1.0;
    }
}

void normalise(double* histogram, std::size_t bins, double lo, double hi) {
    double sum = 0.0;
    for (std::size_t j = 0; j < bins; ++j) sum += histogram[j];
    if (!(sum > 0.0)) return;
    const double divisor = sum * std::fabs((hi - lo) / static_cast<double>(bins));
    for (std::size_t j = 0; j < bins; ++j) histogram[j] /= divisor;
}

}  // namespace sequence
}  // namespace Mrv
