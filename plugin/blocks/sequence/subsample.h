// Reduction of a buffered sequence to a fixed number of samples, one per
// segment of equal length spread evenly over the sequence.
#pragma once

#include <cstddef>

namespace Mrv {
namespace sequence {

// The sampling modes, in the order of the block's combo.
enum sampling_mode : int { sample_mean = 0, sample_variance = 1, sample_min = 2, sample_max = 3, sample_first = 4 };

// Writes `samples` values to `out` from the `count` buffered values.
// Fewer values than samples: mode "first" copies the values and pads with
// 0.0, every other mode gives zeros. Otherwise segment i holds
// s = count / samples values from i * s + floor(i * r), r = (count -
// samples * s) / samples, and gives its mean, population variance (mean
// of squares minus squared mean), minimum or maximum (values that are not
// numbers passed over) or first value; an unknown mode gives 0.0.
// samples 0 writes nothing.
void subsample(const double* values, std::size_t count, std::size_t samples, int mode, double* out);

}  // namespace sequence
}  // namespace Mrv
