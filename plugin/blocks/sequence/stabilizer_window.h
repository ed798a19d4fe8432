// The Stabilizer's window: the last N values with, for each, how many
// entries of the window hold the same value and that count as a
// percentage of N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Mrv {
namespace sequence {

class stabilizer_window {
public:
    struct entry {
        double value;
        std::int32_t count;
        double frequency;  // (count / N) * 100
    };
    // The entry with the highest positive frequency, newest first on a
    // tie; index -1 and frequency 0 when no entry has a positive frequency.
    struct peak {
        double frequency;
        std::ptrdiff_t index;
    };

    // N entries of value 0.0, count 0, frequency 0. The zero-filled start
    // is part of the rule: until N values have arrived, each arrival that
    // pushes a starting entry out lowers the count of every remaining 0.0
    // entry, so they go negative and are never the peak, and an input of
    // exactly 0.0 shares their count. length must be at least 1.
    explicit stabilizer_window(std::size_t length);

    // Shifts x in as entry 0, drops entry N - 1, updates the counts of the
    // entries equal to x or to the dropped value (exact equality, so NaN
    // always counts 1) and returns the peak.
    peak push(double x);

    std::size_t size() const { return entries_.size(); }
    const entry& operator[](std::size_t i) const { return entries_[i]; }

private:
    std::vector<entry> entries_;
};

}  // namespace sequence
}  // namespace Mrv
