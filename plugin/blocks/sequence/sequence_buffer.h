// The record of a scalar sequence that HistGenerator and SubSampler collect
// between generations: oldest value first, contiguous, optionally bounded
// to the most recent values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Mrv {
namespace sequence {

class sequence_buffer {
public:
    // Appends a value. With a limit of 0 or more, a buffer that now holds
    // more than `limit` values loses its oldest one (one per new value, so
    // lowering the limit shrinks the buffer one input at a time); a negative
    // limit keeps everything.
    void push(double value, std::int64_t limit);
    // The collecting blocks' rule for a new input: `value` is appended
    // (as by push) only when `time` is newer than the time of the last
    // value taken; false when it is not.
    bool take(std::int64_t time, double value, std::int64_t limit);
    // Forgets the time of the last value taken (a new run starts at 0);
    // the values stay.
    void restart_times() { last_time_ = 0; }
    void clear();

    const double* data() const { return values_.data() + start_; }
    std::size_t size() const { return values_.size() - start_; }
    bool empty() const { return size() == 0; }

private:
    // Dropped values stay in front of `start_` until they are half of the
    // storage, so dropping is amortised O(1) and memory stays within twice
    // the values kept.
    std::vector<double> values_;
    std::size_t start_ = 0;
    std::int64_t last_time_ = 0;
};

}  // namespace sequence
}  // namespace Mrv
