// The sequence algorithms linked directly, against hand-computed cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "blocks/sequence/histogram.h"
#include "blocks/sequence/sequence_buffer.h"
#include "blocks/sequence/stabilizer_window.h"
#include "blocks/sequence/subsample.h"

namespace {

using namespace Mrv::sequence;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// ---- histograms -------------------------------------------------------------

TEST(Histogram, BinOfEveryKindOfValue) {
    struct Case {
        double v, lo, hi;
        std::size_t bins;
        std::ptrdiff_t bin;
    } const cases[] = {
        {1.0, 0.0, 1.0, 25, 24},   {-5.0, 0.0, 1.0, 25, 0},   {0.5, 0.0, 1.0, 25, 12},
        {0.0, 0.0, 1.0, 25, 0},    {0.04, 0.0, 1.0, 25, 1},   {7.0, 0.0, 1.0, 25, 24},
        {inf, 0.0, 1.0, 25, 24},   {-inf, 0.0, 1.0, 25, 0},   {nan, 0.0, 1.0, 25, -1},
        {0.3, 0.0, 1.0, 1, 0},     {2.5, 2.0, 4.0, 4, 1},     {3.0, 4.0, 2.0, 4, 0},  {5.0, 4.0, 2.0, 4, 3},  // reversed range
        {1e308, -1e308, 1e308, 4, 3}, {0.0, -1e308, 1.7e308, 4, 0},               // range wider than a double
        {std::nextafter(1.0, 0.0), 0.0, 1.0, 3, 2},                                  // just below hi
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.v << " in [" << c.lo << ", " << c.hi << "] / " << c.bins);
        EXPECT_EQ(bin_of(c.v, c.lo, c.hi, c.bins), c.bin);
    }
}

TEST(Histogram, CentresOfTheDefaultBins) {
    std::vector<double> centres(25);
    bin_centres(0.0, 1.0, 25, centres.data());
    for (const auto& [bin, centre] : {std::pair{0, 0.02}, {1, 0.06}, {12, 0.5}, {24, 0.98}})
        EXPECT_DOUBLE_EQ(centres[bin], centre);
    bin_centres(-2.0, 2.0, 2, centres.data());
    EXPECT_EQ(std::vector<double>(centres.begin(), centres.begin() + 2), (std::vector<double>{-1, 1}));
}

std::vector<std::vector<double>> counted(const std::vector<double>& values, std::size_t histograms, std::size_t bins,
                                         double lo = 0.0, double hi = 1.0) {
    std::vector<std::vector<double>> result(histograms, std::vector<double>(bins, -7.0));
    std::vector<double*> rows;
    for (auto& row : result) rows.push_back(row.data());
    count(values.data(), values.size(), lo, hi, bins, rows.data(), rows.size());
    return result;
}

TEST(Histogram, SegmentsFollowFloorOfHTimesKOverN) {
    // Five values in two histograms: 0, 1, 2 in the first, 3, 4 in the second.
    EXPECT_EQ(counted({0.1, 0.1, 0.9, 0.9, 0.9}, 2, 2),
              (std::vector<std::vector<double>>{{2, 1}, {0, 2}}));
    // Three histograms over two values: floor(3 * 1 / 2) = 1, the last stays empty.
    EXPECT_EQ(counted({0.1, 0.9}, 3, 2), (std::vector<std::vector<double>>{{1, 0}, {0, 1}, {0, 0}}));
    // Out of range, infinite and NaN values.
    EXPECT_EQ(counted({-1, 2, inf, -inf, nan, 0.5}, 1, 4), (std::vector<std::vector<double>>{{2, 0, 1, 2}}));
    // No value: every cell is cleared.
    EXPECT_EQ(counted({}, 2, 3), (std::vector<std::vector<double>>{{0, 0, 0}, {0, 0, 0}}));
}

TEST(Histogram, NormalisationMakesCountsTimesWidthSumToOne) {
    const auto normalised = [](std::vector<double> counts, double lo, double hi) {
        normalise(counts.data(), counts.size(), lo, hi);
        return counts;
    };
    EXPECT_EQ(normalised({3, 1}, 0.0, 1.0), (std::vector<double>{1.5, 0.5}));
    EXPECT_EQ(normalised({1, 1}, 4.0, 0.0), (std::vector<double>{0.25, 0.25}));  // width |(0 - 4) / 2| = 2
    EXPECT_EQ(normalised({0, 0, 0}, 0.0, 1.0), (std::vector<double>{0, 0, 0}));
    // Zero width: 2 / (2 * 0) and 0 / (2 * 0).
    const auto no_width = normalised({2, 0}, 1.0, 1.0);
    EXPECT_EQ(no_width[0], inf);
    EXPECT_TRUE(std::isnan(no_width[1]));
}

// ---- subsampling ------------------------------------------------------------

std::vector<double> sub(const std::vector<double>& values, std::size_t samples, int mode) {
    std::vector<double> out(samples, -7.0);
    subsample(values.data(), values.size(), samples, mode, out.data());
    return out;
}

std::vector<double> positions(std::size_t length) {
    std::vector<double> values(length);
    for (std::size_t i = 0; i < length; ++i) values[i] = static_cast<double>(i);
    return values;
}

TEST(Subsample, SegmentsStartWhereTheSpreadPutsThem) {
    // L 10, N 3: starts 0, 3, 6 of length 3; position 9 unused.
    EXPECT_EQ(sub(positions(10), 3, sample_first), (std::vector<double>{0, 3, 6}));
    EXPECT_EQ(sub(positions(10), 3, sample_max), (std::vector<double>{2, 5, 8}));
    // L 11, N 3: s 3, r 2/3; starts 0, 3, 7; positions 6 and 10 unused.
    EXPECT_EQ(sub(positions(11), 3, sample_first), (std::vector<double>{0, 3, 7}));
    EXPECT_EQ(sub(positions(11), 3, sample_max), (std::vector<double>{2, 5, 9}));
    EXPECT_EQ(sub(positions(11), 3, sample_mean), (std::vector<double>{1, 4, 8}));
}

TEST(Subsample, EveryModeOverOneSegment) {
    struct Case {
        std::vector<double> values;
        int mode;
        double expected;
    } const cases[] = {
        {{3, -1, 2}, sample_min, -1},        {{3, -1, 2}, sample_max, 3},        {{3, -1, 2}, sample_first, 3},
        {{3, -1, 2}, sample_mean, 4.0 / 3},  {{1, 2, 3}, sample_variance, 2.0 / 3},
        {{nan, 5, nan}, sample_min, 5},      {{nan, 5, nan}, sample_max, 5},     {{nan, nan}, sample_min, inf},
        {{1, 2, 3}, 7, 0.0},                 {{1, 2, 3}, -1, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode);
        EXPECT_DOUBLE_EQ(sub(c.values, 1, c.mode)[0], c.expected);
    }
}

TEST(Subsample, AsManySamplesAsValues) {
    const std::vector<double> values{4, -2, 9, 0.5};
    for (int mode : {sample_mean, sample_min, sample_max, sample_first}) EXPECT_EQ(sub(values, 4, mode), values);
    EXPECT_EQ(sub(values, 4, sample_variance), (std::vector<double>(4, 0.0)));
}

TEST(Subsample, FewerValuesThanSamples) {
    std::vector<double> expected{1, 2, 3, 4};
    expected.resize(25, 0.0);
    EXPECT_EQ(sub({1, 2, 3, 4}, 25, sample_first), expected);
    EXPECT_EQ(sub({1, 2, 3, 4}, 25, sample_mean), std::vector<double>(25, 0.0));
    EXPECT_EQ(sub({}, 3, sample_max), std::vector<double>(3, 0.0));
    // No sample asked for: nothing written.
    std::vector<double> untouched{-7.0};
    subsample(nullptr, 0, 0, sample_mean, untouched.data());
    EXPECT_EQ(untouched[0], -7.0);
}

TEST(Subsample, SegmentsNeverReachPastTheBuffer) {
    for (std::size_t length : {7u, 100u, 1001u, 65537u})
        for (std::size_t samples : {1u, 3u, 7u, 99u, 1000u})
            EXPECT_LT(sub(positions(length), std::min(samples, length), sample_max).back(), static_cast<double>(length))
                << length << " / " << samples;
}

// ---- the bounded buffer -------------------------------------------------------

std::vector<double> contents(const sequence_buffer& buffer) {
    return std::vector<double>(buffer.data(), buffer.data() + buffer.size());
}

TEST(SequenceBuffer, KeepsTheMostRecentValuesWithinItsLimit) {
    sequence_buffer buffer;
    for (int i = 0; i < 10; ++i) buffer.push(i, 3);
    EXPECT_EQ(contents(buffer), (std::vector<double>{7, 8, 9}));
    buffer.push(10, 0);  // limit 0: one value dropped per new value
    EXPECT_EQ(contents(buffer), (std::vector<double>{8, 9, 10}));
    buffer.clear();
    buffer.push(1, 0);
    EXPECT_TRUE(buffer.empty());
    for (int i = 0; i < 1000000; ++i) buffer.push(i, -1);
    EXPECT_EQ(buffer.size(), 1000000u);
    EXPECT_EQ(buffer.data()[999999], 999999.0);
}

TEST(SequenceBuffer, TakesOnlyNewerTimeStamps) {
    sequence_buffer buffer;
    EXPECT_FALSE(buffer.take(0, 1.0, -1));  // never stamped
    EXPECT_TRUE(buffer.take(1000, 2.0, -1));
    EXPECT_FALSE(buffer.take(1000, 3.0, -1));
    EXPECT_FALSE(buffer.take(-5, 4.0, -1));
    EXPECT_TRUE(buffer.take(2000, 5.0, -1));
    buffer.restart_times();  // a new run: its clock starts again
    EXPECT_TRUE(buffer.take(1000, 6.0, -1));
    EXPECT_EQ(contents(buffer), (std::vector<double>{2, 5, 6}));
}

// ---- the stabilizer window ------------------------------------------------------

struct Step {
    double input;
    double max_freq;
    std::ptrdiff_t index;
};

void run_steps(std::size_t length, const std::vector<Step>& steps) {
    stabilizer_window window(length);
    for (std::size_t k = 0; k < steps.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "input #" << k << " = " << steps[k].input);
        const auto peak = window.push(steps[k].input);
        EXPECT_DOUBLE_EQ(peak.frequency, steps[k].max_freq);
        EXPECT_EQ(peak.index, steps[k].index);
    }
}

// The counts of the window's entries, newest first, after `inputs`.
std::vector<std::int32_t> counts_after(std::size_t length, std::initializer_list<double> inputs) {
    stabilizer_window window(length);
    for (double x : inputs) window.push(x);
    std::vector<std::int32_t> counts;
    for (std::size_t i = 0; i < length; ++i) counts.push_back(window[i].count);
    return counts;
}

TEST(StabilizerWindow, HandComputedSequences) {
    // N 5: 1, 1, 1 reach 20, 40, 60; a following 2 leaves 1 at 60.
    run_steps(5, {{1, 20, 0}, {1, 40, 0}, {1, 60, 0}, {2, 60, 1}});
    // N 1: every input has 100.
    run_steps(1, {{3, 100, 0}, {4, 100, 0}, {nan, 100, 0}});
    // Equal frequencies: the newer value wins.
    run_steps(4, {{1, 25, 0}, {2, 25, 0}, {1, 50, 0}, {2, 50, 0}});
    // NaN never matches itself.
    run_steps(3, {{nan, 100.0 / 3, 0}, {nan, 100.0 / 3, 0}, {nan, 100.0 / 3, 0}});
    // Defaults: a constant non-zero value needs eight inputs to reach 80.
    run_steps(10, {{4, 10, 0}, {4, 20, 0}, {4, 30, 0}, {4, 40, 0}, {4, 50, 0}, {4, 60, 0}, {4, 70, 0}, {4, 80, 0}});
}

TEST(StabilizerWindow, ZeroFilledStartAsWritten) {
    // N 3: 0, 0 count with the starting entries and stay below 0; a 1 gets 33.3.
    run_steps(3, {{0, 0, -1}, {0, 0, -1}, {1, 100.0 / 3, 0}});
    EXPECT_EQ(counts_after(3, {0, 0, 1}), (std::vector<std::int32_t>{1, -1, -1}));
    // Once the starting entries are gone, zeros count.
    run_steps(3, {{5, 100.0 / 3, 0}, {5, 200.0 / 3, 0}, {5, 100, 0}, {0, 200.0 / 3, 1}, {0, 200.0 / 3, 0}, {0, 100, 0}});
    EXPECT_EQ(counts_after(3, {5, 5, 5, 0, 0, 0}), (std::vector<std::int32_t>{3, 3, 3}));
    // 1, 0, 0, 0: three zeros of count 0, no peak.
    run_steps(3, {{1, 100.0 / 3, 0}, {0, 100.0 / 3, 1}, {0, 100.0 / 3, 2}, {0, 0, -1}});
    EXPECT_EQ(counts_after(3, {1, 0, 0, 0}), (std::vector<std::int32_t>{0, 0, 0}));
}

}  // namespace
