// The majority vote of DecisionByVoting over a window of buffered values.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

namespace Mrv {
namespace voting {

// The values buffered between votes, newest first.
class vote_buffer {
public:
    // Puts a value at the front. With a positive `limit` and at least
    // `limit` values buffered, the oldest value is dropped first: one per
    // new value, so a lowered limit shrinks the buffer gradually. 0 or
    // less keeps all.
    void push(double value, int limit);
    void clear() { values_.clear(); }
    bool empty() const { return values_.empty(); }
    std::size_t size() const { return values_.size(); }
    const std::deque<double>& values() const { return values_; }

private:
    std::deque<double> values_;
};

struct outcome {
    std::vector<double> answers;
    double certainty = 0.0;
};

// Fills `answers` answers from the most frequent values, larger counts first
// and, among equal counts, larger values first:
// - one winner: every answer is the winner, certainty 1;
// - T tied winners, T <= answers: the T winners, then -1, certainty 1 / T;
// - more tied winners than answers: the first `answers` of them, certainty 0.
// Every NaN counts as one value, ordered below every number. An empty
// window gives no answers.
outcome vote(const std::deque<double>& values, std::size_t answers);

// The integer a vote trace shows for a value: truncated towards zero,
// clamped to the range of int, 0 for NaN.
int trace_label(double value);

}  // namespace voting
}  // namespace Mrv
