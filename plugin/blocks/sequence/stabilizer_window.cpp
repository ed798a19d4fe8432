#include "blocks/sequence/stabilizer_window.h"

namespace Mrv {
namespace sequence {

stabilizer_window::stabilizer_window(std::size_t length) : entries_(length, entry{0.0, 0, 0.0}) {}

stabilizer_window::peak stabilizer_window::push(double x) {
    const std::size_t n = entries_.size();
    const double length = static_cast<double>(n);
    entry* const window = entries_.data();
    const double leaving = window[n - 1].value;
    std::int32_t count = 1;
    double frequency = (1.0 / length) * 100.0;
    for (std::size_t i = n - 1; i-- > 0;) {
        entry current = window[i];
        if (current.value == x) {
            ++current.count;
            current.frequency = (current.count / length) * 100.0;
            count = current.count;
            frequency = current.frequency;
        }
        if (current.value == leaving) {
            --current.count;
            current.frequency = (current.count / length) * 100.0;
        }
        if (current.value == x && current.value == leaving) {
            count = current.count;
            frequency = (count / length) * 100.0;
        }
        window[i + 1] = current;
    }
    window[0] = entry{x, count, frequency};

    peak found{0.0, -1};
    for (std::size_t i = 0; i < n; ++i)
        if (window[i].frequency > found.frequency) found = peak{window[i].frequency, static_cast<std::ptrdiff_t>(i)};
    return found;
}

}  // namespace sequence
}  // namespace Mrv
