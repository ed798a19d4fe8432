// The map engine linked directly: schedules against hand-computed radii
// and rates, best-match ties, class decisions, matrix formats, the preset;
// the portable and the vector units against plain per-node loops on the
// example data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "blocks/som/som.h"
#include "common/files.h"

namespace {

using Mrv::CSom;
using Mrv::matrix_fit;
using Mrv::matrix_view;

// A rows x cols map of `length` weights, every weight set to `value`.
CSom flat_map(int rows, int cols, int iterations, int length, double value) {
    CSom map;
    map.CreateGrid(cols, rows, cols, rows, iterations, 0, length);
    for (std::size_t n = 0; n < map.NodeCount(); ++n)
        for (int i = 0; i < length; ++i) map.Weight(n, i) = value;
    return map;
}

std::vector<double> all_weights(const CSom& map) {
    std::vector<double> all;
    for (std::size_t n = 0; n < map.NodeCount(); ++n)
        for (int i = 0; i < map.PatternLength(); ++i) all.push_back(map.Weight(n, i));
    return all;
}

TEST(Som, CreateGridLaysOutUnitCellsWithRandomWeights) {
    CSom map;
    EXPECT_FALSE(map.IsBuilt());
    map.CreateGrid(4, 3, 4, 3, 10, 0, 2);
    EXPECT_EQ(std::tuple(map.Rows(), map.Cols(), map.NodeCount()), std::tuple(3, 4, std::size_t{12}));
    EXPECT_EQ(map.MapRadius(), 1.5);  // half the smaller dimension
    EXPECT_EQ(map.TimeConstant(), 10 / std::log(1.5));
    EXPECT_EQ(map.Remaining(), 10);
    EXPECT_EQ(std::pair(map.Node(2, 3).centre_x, map.Node(2, 3).centre_y), std::pair(3.5, 2.5));
    for (double w : all_weights(map)) EXPECT_TRUE(w >= 0.0 && w < 1.0) << w;
}

// Four iterations on a 4 x 4 map (radius 2, time constant 4 / ln 2): three
// updates, each with the rate computed at the end of the one before (the
// third update shows the second's weight and rate).
TEST(Som, AutomaticScheduleMakesNMinusOneUpdates) {
    CSom map = flat_map(4, 4, 4, 1, 0.0);
    const double x[] = {1.0};
    const double tc = 4 / std::log(2.0);

    ASSERT_TRUE(map.TrainStep(x, 1, 1, false, 0.0, 0.0));
    EXPECT_EQ(map.Winner(), 0);
    EXPECT_EQ(map.CurrentRadius(), 2.0);
    EXPECT_EQ(map.Weight(0, 0, 0), 0.1);
    EXPECT_EQ(map.Weight(0, 1, 0), 0.1 * std::exp(-1.0 / 8.0));
    EXPECT_EQ(map.Weight(1, 1, 0), 0.1 * std::exp(-2.0 / 8.0));
    EXPECT_EQ(map.Weight(0, 2, 0), 0.0);  // distance 2 is not inside radius 2
    EXPECT_EQ(map.CurrentInfluence(), std::exp(-2.0 / 8.0));
    EXPECT_EQ(map.LearningRate(), 0.1);

    ASSERT_TRUE(map.TrainStep(x, 1, 1, false, 0.0, 0.0));
    ASSERT_TRUE(map.TrainStep(x, 1, 1, false, 0.0, 0.0));
    const double second = 0.1 + (1 - 0.1) * 0.1;
    EXPECT_DOUBLE_EQ(map.CurrentRadius(), 2 * std::exp(-2 / tc));
    EXPECT_EQ(map.Weight(0, 0, 0), second + (1 - second) * (0.1 * std::exp(-1.0 / 2)));
    EXPECT_EQ(map.LearningRate(), 0.1 * std::exp(-2.0 / 1));
    EXPECT_FALSE(map.Done());

    // The fourth call only ends the schedule; later ones change nothing.
    const auto trained = all_weights(map);
    ASSERT_TRUE(map.TrainStep(x, 1, 1, false, 0.0, 0.0));
    EXPECT_TRUE(map.Done());
    ASSERT_TRUE(map.TrainStep(x, 1, 1, false, 0.0, 0.0));
    EXPECT_EQ(all_weights(map), trained);
    EXPECT_EQ(map.Remaining(), 0);
}

TEST(Som, ZeroOrOneIterationTrainsNothingAndWrongLengthIsRefused) {
    const double x[] = {1.0, 1.0};
    CSom none = flat_map(3, 3, 0, 2, 0.0);
    EXPECT_TRUE(none.Done());
    EXPECT_TRUE(none.TrainStep(x, 2, 2, false, 0.0, 0.0));
    EXPECT_EQ(none.Remaining(), 0);

    CSom one = flat_map(3, 3, 1, 2, 0.0);
    EXPECT_FALSE(one.Done());
    EXPECT_TRUE(one.TrainStep(x, 2, 2, false, 0.0, 0.0));
    EXPECT_TRUE(one.Done());
    EXPECT_EQ(all_weights(one), std::vector<double>(18, 0.0));

    CSom map = flat_map(3, 3, 5, 2, 0.0);
    EXPECT_FALSE(map.TrainStep(x, 1, 2, false, 0.0, 0.0));  // x shorter than expected
    EXPECT_FALSE(map.TrainStep(x, 2, 1, false, 0.0, 0.0));  // expected is not the map's
    EXPECT_EQ(map.Remaining(), 5);
    EXPECT_EQ(map.Counter(), 0);
}

TEST(Som, CustomScheduleUsesGivenRadiusAndRateAndNeverEnds) {
    CSom map = flat_map(4, 6, 2, 1, 0.0);
    map.StopTraining();  // a finished map still trains in custom mode
    const double x[] = {1.0};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(map.TrainStep(x, 1, 1, true, 0.25, 0.5));
    EXPECT_EQ(map.CurrentRadius(), 2.0 * 0.25 * 2.0);  // 0.25 x min(4, 6)
    EXPECT_EQ(map.LearningRate(), 0.5);
    EXPECT_EQ(map.Remaining(), -4);
    EXPECT_EQ(map.Counter(), 4);
    EXPECT_EQ(map.Weight(0, 0, 0), 1.0 - std::pow(0.5, 4));
    EXPECT_EQ(map.Weight(0, 1, 0), 0.0);  // radius 1: the neighbour at 1 is outside
}

TEST(Som, BestMatchPrefersTheEarlierOfEqualNodes) {
    CSom map = flat_map(2, 3, 10, 2, -5.0);
    map.Weight(0, 2, 0) = 2.0;  // (2, 1) and (1, 2): both at squared distance 1 from (1, 1)
    map.Weight(0, 2, 1) = 1.0;
    map.Weight(1, 0, 0) = 1.0;
    map.Weight(1, 0, 1) = 2.0;
    const double x[] = {1.0, 1.0};
    EXPECT_EQ(map.FindBestMatch(x), 2);
    const double nearer_second[] = {1.0, 1.5};
    EXPECT_EQ(map.FindBestMatch(nearer_second), 3);
    CSom empty;
    EXPECT_EQ(empty.FindBestMatch(x), -1);
}

// The first `features` columns of every row of an example table.
std::vector<std::vector<double>> example_rows(const std::string& file, int header_rows, int features) {
    const auto lines = lines_of(read_file(std::string(MRV_EXAMPLES) + "/data/" + file));
    std::vector<std::vector<double>> rows;
    for (auto line = lines.begin() + header_rows; line != lines.end(); ++line) {
        std::istringstream fields(*line);
        auto& row = rows.emplace_back();
        for (std::string field; static_cast<int>(row.size()) < features && std::getline(fields, field, ',');)
            row.push_back(std::stod(field));
    }
    return rows;
}

// The plain per-node loops over node-major weights.
int plain_best_match(const std::vector<double>& weights, std::size_t length, const double* x) {
    double best = std::numeric_limits<double>::infinity();
    int result = -1;
    for (std::size_t n = 0; n * length < weights.size(); ++n) {
        double d = 0.0;
        for (std::size_t i = 0; i < length; ++i) d += (x[i] - weights[n * length + i]) * (x[i] - weights[n * length + i]);
        if (best > d) best = d, result = static_cast<int>(n);
    }
    return result;
}

void plain_update(std::vector<double>& weights, const CSom& map, int winner, double radius, double rate,
                  const double* x) {
    const std::size_t length = static_cast<std::size_t>(map.PatternLength());
    for (std::size_t n = 0; n < map.NodeCount(); ++n) {
        const double dx = map.Node(static_cast<std::size_t>(winner)).centre_x - map.Node(n).centre_x;
        const double dy = map.Node(static_cast<std::size_t>(winner)).centre_y - map.Node(n).centre_y;
        if (!(radius * radius > dx * dx + dy * dy)) continue;
        const double step = rate * std::exp(-(dx * dx + dy * dy) / (2.0 * radius * radius));
        for (std::size_t i = 0; i < length; ++i)
            weights[n * length + i] = weights[n * length + i] + (x[i] - weights[n * length + i]) * step;
    }
}

// Each units train a map on each table (one automatic pass, then custom
// steps with a wide radius) and must pick the plain loops' best match at
// every step and keep weights to the bit; a 7 x 9 grid leaves a partial
// block of nodes.
TEST(Som, UnitsMatchThePlainLoopsOnTheExampleData) {
    const struct {
        const char* file;
        int header_rows, features;
    } tables[] = {{"iris.csv", 1, 4}, {"wine.csv", 1, 13}, {"digits.csv", 0, 64}};
    std::vector<Mrv::som_units> units = {Mrv::som_units::portable};
    if (Mrv::FastestSomUnits() == Mrv::som_units::avx2) units.push_back(Mrv::som_units::avx2);
    for (const auto& table : tables)
        for (const auto unit : units) {
            SCOPED_TRACE(std::string(table.file) + (unit == Mrv::som_units::avx2 ? " avx2" : " portable"));
            const auto rows = example_rows(table.file, table.header_rows, table.features);
            ASSERT_GT(rows.size(), 100u);
            std::srand(7);
            CSom map;
            map.UseUnits(unit);
            map.CreateGrid(9, 7, 9, 7, static_cast<int>(rows.size()), 0, table.features);
            std::vector<double> plain = all_weights(map);
            const std::size_t length = static_cast<std::size_t>(table.features);
            std::set<int> winners;
            for (std::size_t step = 0; step < 2 * rows.size(); ++step) {
                const auto& x = rows[step % rows.size()];
                const bool custom = step >= rows.size();
                const double rate = custom ? 0.05 : map.LearningRate();
                const int winner = plain_best_match(plain, length, x.data());
                ASSERT_EQ(map.FindBestMatch(x.data()), winner);
                ASSERT_TRUE(map.TrainStep(x.data(), length, table.features, custom, 0.4, 0.05));
                if (map.Done() && !custom) continue;  // the schedule's last call moves nothing
                ASSERT_EQ(map.Winner(), winner);
                winners.insert(winner);
                plain_update(plain, map, winner, map.CurrentRadius(), rate, x.data());
            }
            EXPECT_GT(winners.size(), 10u);
            EXPECT_EQ(all_weights(map), plain);
        }
}

// A NaN or infinite feature matches no node (no distance compares below
// +inf): no weight moves, yet the step counts (remaining 10 -> 7, counter 3,
// rate 0.1 * exp(-2 / 7)).
TEST(Som, UnitsAgreeOnNonFiniteFeatures) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (const auto unit : {Mrv::som_units::portable, Mrv::FastestSomUnits()}) {
        CSom map = flat_map(3, 5, 10, 6, 0.5);
        map.UseUnits(unit);
        for (const double bad : {nan, inf, -inf}) {
            const std::vector<double> x = {0.1, bad, 0.2, 0.3, 0.4, 0.5};
            EXPECT_EQ(map.FindBestMatch(x.data()), -1);
            EXPECT_TRUE(map.TrainStep(x.data(), 6, 6, false, 0.0, 0.0));
            EXPECT_EQ(map.Winner(), -1);
        }
        EXPECT_EQ(all_weights(map), std::vector<double>(90, 0.5));
        EXPECT_EQ(map.Remaining(), 7);
        EXPECT_EQ(map.Counter(), 3);
        EXPECT_DOUBLE_EQ(map.LearningRate(), 0.1 * std::exp(-2.0 / 7.0));
        // A huge but finite distance still matches; inf - inf is NaN.
        map.Weight(std::size_t{14}, 1) = inf;
        const std::vector<double> far = {0.5, 1e150, 0.5, 0.5, 0.5, 0.5};
        EXPECT_EQ(map.FindBestMatch(far.data()), 0);
        const std::vector<double> infinite = {0.5, inf, 0.5, 0.5, 0.5, 0.5};
        EXPECT_EQ(map.FindBestMatch(infinite.data()), -1);
    }
}

TEST(Som, ClassPlaneRules) {
    // A 1 x 3 map, 3 classes; node q has counts column q.
    std::vector<double> counts = {2, 0, 0,  //
                                  2, 3, 0,  //
                                  0, 1, 0};
    const matrix_view histogram{counts.data(), 3, 3};
    std::vector<double> plane(3, 99.0);
    const matrix_view decided{plane.data(), 1, 3};
    Mrv::UpdateClassPlane(histogram, 3, 1, 3, 0, decided);
    EXPECT_EQ(plane, (std::vector<double>{-1, 2, -1}));  // (2, 2, 0), (0, 3, 1), never hit
    Mrv::UpdateClassPlane(histogram, 3, 1, 3, 1, decided);
    EXPECT_EQ(plane, (std::vector<double>{1, 2, 1}));
    plane.assign(3, 99.0);
    Mrv::UpdateClassPlane(histogram, 3, 1, 3, 2, decided);
    EXPECT_EQ(plane, std::vector<double>(3, 99.0));
    // One class: a node never hit has a single "prevalent" count of 0.
    std::vector<double> single = {0.0};
    std::vector<double> one(1, 0.0);
    Mrv::UpdateClassPlane({single.data(), 1, 1}, 1, 1, 1, 0, {one.data(), 1, 1});
    EXPECT_EQ(one[0], 1.0);
}

TEST(Som, WeightPlanesRoundTripThroughMatrices) {
    CSom map;
    std::vector<double> values(6 * 2, 7.0);
    EXPECT_EQ(Mrv::MapToMatrix(map, {values.data(), 6, 2}, -1, -1), matrix_fit::not_built);
    EXPECT_EQ(values, std::vector<double>(12, 7.0));

    map.CreateGrid(2, 2, 2, 2, 10, 0, 3);
    for (int r = 0; r < 2; ++r)
        for (int q = 0; q < 2; ++q)
            for (int p = 0; p < 3; ++p) map.Weight(r, q, p) = 100 * p + 10 * r + q;
    EXPECT_EQ(Mrv::MapToMatrix(map, {values.data(), 6, 2}, -1, -1), matrix_fit::done);
    EXPECT_EQ(values, (std::vector<double>{0, 1, 10, 11, 100, 101, 110, 111, 200, 201, 210, 211}));
    std::vector<double> plane(4);
    EXPECT_EQ(Mrv::MapToMatrix(map, {plane.data(), 2, 2}, 3, 3), matrix_fit::done);
    EXPECT_EQ(plane, std::vector<double>(4, -1.0));  // beyond the weights
    EXPECT_EQ(Mrv::MapToMatrix(map, {values.data(), 4, 3}, -1, -1), matrix_fit::mismatch);

    for (double& v : values) v += 0.5;
    EXPECT_EQ(Mrv::MatrixToMap(map, {values.data(), 6, 2}, -1, -1), matrix_fit::done);
    EXPECT_EQ(map.Weight(1, 0, 2), 210.5);
    const auto loaded = all_weights(map);
    EXPECT_EQ(Mrv::MatrixToMap(map, {values.data(), 5, 2}, -1, -1), matrix_fit::mismatch);
    EXPECT_EQ(Mrv::MatrixToMap(map, {values.data(), 0, 2}, 2, 1), matrix_fit::done);  // first > last
    EXPECT_EQ(all_weights(map), loaded);
}

TEST(Som, FourCornerPresetTakesTheFirstNearCorner) {
    CSom map = flat_map(20, 20, 10, 5, 0.5);
    map.ApplyFourCornerPreset();
    const auto all = all_weights(map);  // node-major, row by row
    auto weights = [&](int r, int q) { return std::vector<double>(&all[(20 * r + q) * 5], &all[(20 * r + q) * 5] + 5); };
    EXPECT_EQ(weights(0, 19), (std::vector<double>{1.0, 1.0, 1.0, 0.58, 0.5}));
    EXPECT_EQ(weights(0, 0), (std::vector<double>{0.59, 0.65, 0.75, 1.0, 0.5}));
    EXPECT_EQ(weights(19, 0), (std::vector<double>{0.0, 0.0, 0.25, 0.0, 0.5}));
    EXPECT_EQ(weights(19, 19), (std::vector<double>{0.04, 0.2, 0.0, 0.37, 0.5}));
    EXPECT_EQ(weights(10, 10), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.5}));
    EXPECT_EQ(weights(0, 11), (std::vector<double>{1.0, 1.0, 1.0, 0.58, 0.5}));  // trunc(9) < 10
    EXPECT_EQ(weights(0, 9), (std::vector<double>{0.59, 0.65, 0.75, 1.0, 0.5}));
    EXPECT_EQ(weights(0, 10), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.5}));  // 10 from both top corners

    // On a small grid the first corner covers everything.
    CSom small = flat_map(5, 5, 10, 2, 0.5);
    small.ApplyFourCornerPreset();
    EXPECT_EQ(small.Weight(0, 0, 0), 1.0);
    EXPECT_EQ(small.Weight(0, 0, 1), 1.0);
}

}  // namespace
