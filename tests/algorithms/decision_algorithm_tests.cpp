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
        {{0, 0, 0.5, -0.1}, 0.6, std::exp(-0.5)},                    // negative deviation: its magnitude
        {{0, 0, 0.5, 0.0}, 0.5, 1.0},                                // degenerate bell at its center
        {{0, 0, 0.5, 0.0}, 0.5000001, 0.0},                          // and anywhere else
        {{1, 0, 0.5, 10}, 0.5, 0.5},                                 // sigmoid midpoint
        {{1, 0, 0.5, 10}, 0.6, 1.0 / (1.0 + std::exp(-1.0))},
        {{1, 1, 0.5, 10}, 0.6, 1.0 - 1.0 / (1.0 + std::exp(-1.0))},  // ~0.2689
        {{1, 0, 0.5, -10}, 0.6, 1.0 / (1.0 + std::exp(1.0))},        // falling sigmoid
        {{1, 0.5, 0.5, 10}, 0.5, 0.5},                               // only exactly 1 flips
        {{0, 0, 0.5, 0.1}, inf, 0.0},
        {{1, 0, 0.5, 10}, inf, 1.0},
        {{1, 0, 0.5, 10}, -inf, 0.0},
        {{1, 0, 0.5, 0}, inf, 0.5},                                  // flat sigmoid everywhere
        {{1, 0, 0.5, 10}, 1e6, 1.0},                                 // exp underflow, no NaN
        {{2, 0, 0.5, 0.1}, 0.5, 0.0},                                // unknown type
        {{-1, 1, 0.5, 0.1}, 0.5, 0.0},                               // unknown type is not flipped
        {{0, 0, nan, 0.1}, 0.5, 0.0},
        {{1, 1, 0.5, inf}, 0.6, 0.0},                                // a flipped step
        {{1, 0, 0.5, inf}, 0.5, 0.5},                                // the step's middle
        {{0, 0, 0.5, inf}, 0.6, 1.0},                                // a flat bell
        {{0, 0, inf, 0.1}, 0.6, 0.0},
        {{1, 0, -inf, 10}, 0.6, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << c.row[0] << "," << c.row[1] << "," << c.row[2] << ","
                                          << c.row[3] << " x " << c.x);
        EXPECT_NEAR(distribution::membership(c.row.data(), c.x), c.expected, 1e-12);
    }
    const double gaussian[] = {0, 0, 0.5, 0.1};
    EXPECT_TRUE(std::isnan(distribution::membership(gaussian, nan)));
}

TEST(Distribution, ChecksEachRow) {
    using distribution::row_issue;
    const std::vector<std::pair<std::vector<double>, row_issue>> cases = {
        {{0, 0, 0.5, 0.1}, row_issue::none},          {{1, 1, -3, 0}, row_issue::none},
        {{1, 0, 0, -4}, row_issue::none},             {{0.5, 0, 0, 1}, row_issue::unknown_type},
        {{nan, 0, 0, 1}, row_issue::unknown_type},    {{0, 0, nan, 1}, row_issue::not_a_number},
        {{1, 0, 0, nan}, row_issue::not_a_number},    {{0, 0, inf, 1}, row_issue::none},
        {{0, 0, 0, 0}, row_issue::zero_deviation},
        {{0, 1, 0, -0.2}, row_issue::negative_deviation},
    };
    for (const auto& [row, issue] : cases) EXPECT_EQ(distribution::check_row(row.data()), issue) << row[0] << "," << row[3];
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.newest_first.size() << " values, " << c.answers << " answers");
        const voting::outcome result = voting::vote(c.newest_first, c.answers);
        EXPECT_EQ(result.answers, c.expected);
        EXPECT_DOUBLE_EQ(result.certainty, c.certainty);
    }
    const voting::outcome empty = voting::vote({}, 3);
    EXPECT_TRUE(empty.answers.empty());
    EXPECT_EQ(empty.certainty, 0.0);
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
    buffer.push(100, 2);  // a lowered limit drops down to fit
    EXPECT_EQ(buffer.values(), (std::deque<double>{100, 49}));
    buffer.clear();
    EXPECT_TRUE(buffer.empty());
}

TEST(Voting, TraceLabelsAreTruncatedIntegers) {
    EXPECT_EQ(voting::trace_label(2.9), 2);
    EXPECT_EQ(voting::trace_label(-2.9), -2);
    EXPECT_EQ(voting::trace_label(nan), 0);
    EXPECT_EQ(voting::trace_label(1e20), INT_MAX);
    EXPECT_EQ(voting::trace_label(-inf), INT_MIN);
}

}  // namespace
