#include "blocks/sequence/sequence_buffer.h"

namespace Mrv {
namespace sequence {

void sequence_buffer::push(double value, std::int64_t limit) {
    values_.push_back(value);
    if (limit >= 0 && size() > static_cast<std::uint64_t>(limit)) {
        ++start_;
        if (start_ * 2 >= values_.size()) {
            values_.erase(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
    }
}

bool sequence_buffer::take(std::int64_t time, double value, std::int64_t limit) {
    if (time <= last_time_) return false;
    push(value, limit);
    last_time_ = time;
    return true;
}

void sequence_buffer::clear() {
    // A buffer that grew large gives its memory back; a small one keeps it
    // for the next sequence.
    constexpr std::size_t kept_capacity = 4096;
    if (values_.capacity() > kept_capacity) std::vector<double>().swap(values_);
    else values_.clear();
    start_ = 0;
}

}  // namespace sequence
}  // namespace Mrv
