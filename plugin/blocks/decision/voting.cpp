#include "blocks/decision/voting.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <utility>

namespace Mrv {
namespace voting {

void vote_buffer::push(double value, int limit) {
    if (limit > 0 && !values_.empty() && values_.size() >= static_cast<std::size_t>(limit)) values_.pop_back();
    values_.push_front(value);
}

outcome vote(const std::deque<double>& values, std::size_t answers) {
    outcome result;
    if (values.empty()) return result;
    // NaN compares as one value below every number, so the table stays a
    // strict ordering.
    const auto below = [](double left, double right) {
        return std::isnan(left) ? !std::isnan(right) : left < right;
    };
    std::map<double, std::size_t, decltype(below)> counts(below);
    for (const double value : values) ++counts[value];

    // Ascending values, then a stable ordering by count: walking it from the
    // end visits the largest counts first and, among them, the larger value.
    std::vector<std::pair<double, std::size_t>> ranked(counts.begin(), counts.end());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& left, const auto& right) { return left.second < right.second; });
    const std::size_t largest = ranked.back().second;
    const auto tied = static_cast<std::size_t>(
        std::count_if(ranked.begin(), ranked.end(), [largest](const auto& entry) { return entry.second == largest; }));

    result.answers.assign(answers, -1.0);
    for (std::size_t i = 0; i < answers; ++i) {
        if (tied == 1) result.answers[i] = ranked.back().first;
        else if (i < tied) result.answers[i] = ranked[ranked.size() - 1 - i].first;
    }
    result.certainty = tied == 1 ? 1.0 : tied <= answers ? 1.0 / static_cast<double>(tied) : 0.0;
    return result;
}

int trace_label(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace voting
}  // namespace Mrv
