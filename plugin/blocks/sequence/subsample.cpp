#include "blocks/sequence/subsample.h"

#include <algorithm>
#include <limits>

namespace Mrv {
namespace sequence {
namespace {

double reduce(const double* segment, std::size_t length, int mode) {
    switch (mode) {
    case sample_mean: {
        double sum = 0.0;
        for (std::size_t k = 0; k < length; ++k) sum += segment[k];
        return sum / static_cast<double>(length);
    }
    case sample_variance: {
        double sum = 0.0, squares = 0.0;
        for (std::size_t k = 0; k < length; ++k) {
            sum += segment[k];
            squares += segment[k] * segment[k];
        }
        const double n = static_cast<double>(length), mean = sum / n;
        return squares / n - mean * mean;
    }
    case sample_min: {
        double least = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < length; ++k)
            if (segment[k] < least) least = segment[k];
        return least;
    }
    case sample_max: {
        double most = -std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < length; ++k)
            if (segment[k] > most) most = segment[k];
        return most;
    }
    case sample_first:
        return segment[0];
    default:
        return 0.0;
    }
}

}  // namespace

void subsample(const double* values, std::size_t count, std::size_t samples, int mode, double* out) {
    if (samples == 0) return;
    if (count < samples) {
        for (std::size_t i = 0; i < samples; ++i) out[i] = (mode == sample_first && i < count) ? values[i] : 0.0;
        return;
    }
    const std::size_t length = count / samples;
    const double spread = static_cast<double>(count - samples * length) / static_cast<double>(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        std::size_t start = i * length + static_cast<std::size_t>(static_cast<double>(i) * spread);
        // i * spread stays below count - samples * length; the bound only
        // guards against rounding.
        start = std::min(start, count - length);
        out[i] = reduce(values + start, length, mode);
    }
}

}  // namespace sequence
}  // namespace Mrv
