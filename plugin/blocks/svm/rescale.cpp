#include "blocks/svm/rescale.h"

namespace Mrv {
namespace rescale {

void rescale_vector(const double* input, const double* ranges, std::size_t count, double low, double high,
                    double* output) {
    for (std::size_t i = 0; i < count; ++i)
        output[i] = map_value(input[i], ranges[2 * i], ranges[2 * i + 1], low, high);
}

}  // namespace rescale
}  // namespace Mrv
