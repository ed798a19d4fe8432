#include "blocks/decision/distribution.h"

#include <cmath>

namespace Mrv {
namespace distribution {

double membership(const double* row, double x) {
    const double type = row[type_column], c = row[center_column], s = row[spread_column];
    double p = 0.0;
    if (type == gaussian_type) p = std::exp(-((x - c) * (x - c)) / (2.0 * s * s));
    else if (type == sigmoid_type) p = 1.0 / (1.0 + std::exp(-(x - c) * s));
    else return 0.0;
    return row[flipped_column] == 1.0 ? 1.0 - p : p;
}

}  // namespace distribution
}  // namespace Mrv
