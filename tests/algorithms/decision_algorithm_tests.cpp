// The scoring and voting algorithms of the decision blocks, linked directly.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "blocks/decision/distribution.h"
#include "blocks/decision/voting.h"

namespace {

using namespace Mrv;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Score {
    std::vector<double> row;
    double x;
    double expected;
};

TEST(Distribution, ScoresAgainstHandComputedValues) {
    const std::vector<Score> cases = {
        {{0, 0, 0.5, 0.1}, 0.5, 1.0},                                // bell peak
        {{0, 0, 0.5, 0.1}, 0.6, std::exp(-0.5)},                     // one deviation away
        {{0, 0, 0.5, 0.1}, 0.3, std::exp(-2.0)},                     // two deviations away
        {{0, 1, 0.5, 0.1}, 0.6, 1.0 - std::exp(-0.5)},               // flipped bell
        {{0, 0, 0.5, -0.1}, 0.6, std::exp(-0.5)},                    // negative deviation: squared away
        {{0, 0, 0.5, 0.0}, 0.5, nan},                                // deviation 0: exp(-0 / 0) at the center
        {{0, 0, 0.5, 0.0}, 0.5000001, 0.0},                          // exp(-d^2 / 0) = exp(-inf) elsewhere
        {{1, 0, 0.5, 10}, 0.5, 0.5},                                 // sigmoid midpoint
        {{1, 0, 0.5, 10}, 0.6, 1.0 / (1.0 + std::exp(-1.0))},
        {{1, 1, 0.5, 10}, 0.6, 1.0 - 1.0 / (1.0 + std::exp(-1.0))},  // ~0.2689
        {{1, 0, 0.5, -10}, 0.6, 1.0 / (1.0 + std::exp(1.0))},        // falling sigmoid
        {{1, 0.5, 0.5, 10}, 0.5, 0.5},                               // only exactly 1 flips
        {{0, 0, 0.5, 0.1}, inf, 0.0},
        {{1, 0, 0.5, 10}, inf, 1.0},
        {{1, 0, 0.5, 10}, -inf, 0.0},
        {{1, 0, 0.5, 0}, inf, nan},                                  // exp(-(inf * 0))
        {{1, 0, 0.5, 10}, 1e6, 1.0},                                 // exp underflow, no NaN
        {{2, 0, 0.5, 0.1}, 0.5, 0.0},                                // unknown type
        {{-1, 1, 0.5, 0.1}, 0.5, 0.0},                               // unknown type is not flipped
        {{0, 0, nan, 0.1}, 0.5, nan},                                // a NaN row
        {{1, 1, 0.5, nan}, 0.5, nan},
        {{1, 1, 0.5, inf}, 0.6, 0.0},                                // a flipped step
        {{1, 0, 0.5, inf}, 0.5, nan},                                // exp(-(0 * inf))
        {{0, 0, 0.5, inf}, 0.6, 1.0},                                // a flat bell
        {{0, 0, inf, 0.1}, 0.6, 0.0},
        {{1, 0, -inf, 10}, 0.6, 1.0},
        {{0, 0, 0.5, 0.1}, nan, nan},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << c.row[0] << "," << c.row[1] << "," << c.row[2] << ","
                                          << c.row[3] << " x " << c.x);
        const double p = distribution::membership(c.row.data(), c.x);
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(p)) << p;
        else EXPECT_NEAR(p, c.expected, 1e-12);
    }
}

struct Vote {
    std::deque<double> newest_first;
    std::size_t answers;
    std::vector<double> expected;
    double certainty;
};

TEST(Voting, VotesOverATableOfSequences) {
    const std::vector<Vote> cases = {
        {{2, 1, 2, 3}, 1, {2}, 1.0},
        {{2, 1, 2, 3}, 3, {2, 2, 2}, 1.0},         // one winner fills every answer
        {{1, 2}, 3, {2, 1, -1}, 0.5},              // a tie: larger value first, then -1
        {{1, 2, 3}, 2, {3, 2}, 0.0},               // more ties than answers
        {{1, 2, 3}, 3, {3, 2, 1}, 1.0 / 3.0},
        {{5, 5, 5, 5}, 2, {5, 5}, 1.0},            // all equal
        {{7}, 1, {7}, 1.0},
        {{3, 1, 1, 2, 2, 3, 9}, 4, {3, 2, 1, -1}, 1.0 / 3.0},  // 9 has fewer votes
        {{-1, -2, -1, -2, 0}, 1, {-1}, 0.0},
        {{-inf, 4, -inf}, 1, {-inf}, 1.0},
        {{0.5, 0.25, 0.5}, 2, {0.5, 0.5}, 1.0},    // values need not be integers
        {{2, 2, 1, 1}, 1, {2}, 0.0},               // a tie of two: certainty 0
        {{nan, 2, nan, 2, 1}, 3, {2, nan, -1}, 0.5},  // NaN is one value below every number
        {{nan, 1, nan}, 1, {nan}, 1.0},
        {{}, 3, {}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.newest_first.size() << " values, " << c.answers << " answers");
        const voting::outcome result = voting::vote(c.newest_first, c.answers);
        // As text, so that NaN answers compare.
        EXPECT_EQ(::testing::PrintToString(result.answers), ::testing::PrintToString(c.expected));
        EXPECT_DOUBLE_EQ(result.certainty, c.certainty);
    }
}

TEST(Voting, BufferKeepsTheNewestValuesWithinItsLimit) {
    voting::vote_buffer buffer;
    for (double value : {1, 2, 3, 4}) buffer.push(value, 3);
    EXPECT_EQ(buffer.values(), (std::deque<double>{4, 3, 2}));
    for (int unbounded : {0, -1}) {
        buffer.clear();
        for (int value = 0; value < 50; ++value) buffer.push(value, unbounded);
        EXPECT_EQ(buffer.size(), 50u);
        EXPECT_EQ(buffer.values().front(), 49);
    }
    buffer.clear();
    // A limit lowered to 2 at the fifth of 1, 1, 1, 1, 2, 2 drops one
    // value per input: 2, 2, 1, 1 remain.
    for (int limit : {-1, -1, -1, -1}) buffer.push(1, limit);
    for (int limit : {2, 2}) buffer.push(2, limit);
    EXPECT_EQ(buffer.values(), (std::deque<double>{2, 2, 1, 1}));
}

TEST(Voting, TraceLabelsAreTruncatedIntegers) {
    for (const auto& [value, label] : {std::pair{2.9, 2}, {-2.9, -2}, {nan, 0}, {1e20, INT_MAX}, {-inf, INT_MIN}})
        EXPECT_EQ(voting::trace_label(value), label) << value;
}

}  // namespace
