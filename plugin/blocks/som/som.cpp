#include "blocks/som/som.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace Mrv {
namespace {

// rand() / 32768 over the generator's low 15 bits: [0, 1) on every C
// library, whatever its RAND_MAX.
constexpr double random_scale = 3.0517578125e-5;
constexpr int random_mask = 0x7FFF;

// Corner presets of the "I-Search" demo, first matching rule wins.
constexpr int preset_reach = 10;
constexpr double preset_weights[5][4] = {
    {1.0, 1.0, 1.0, 0.58},   // near (0, cols)
    {0.59, 0.65, 0.75, 1.0},  // near (0, 0)
    {0.0, 0.0, 0.25, 0.0},    // near (rows, 0)
    {0.04, 0.2, 0.0, 0.37},   // near (rows, cols)
    {0.0, 0.0, 0.0, 0.0},
};

std::int32_t corner_distance(std::int32_t a, std::int32_t b) {
    const double x = a, y = b;
    return TruncateToInt(std::sqrt(x * x + y * y));
}

}  // namespace

std::int32_t TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

void CSom::CreateGrid(std::int32_t width, std::int32_t height, std::int32_t across, std::int32_t down,
                      std::int32_t iterations, std::int32_t start, std::int32_t length) {
    cell_width_ = TruncateToInt(static_cast<double>(width) / across);
    cell_height_ = TruncateToInt(static_cast<double>(height) / down);
    rows_ = down;
    cols_ = across;
    remaining_ = iterations;
    pattern_length_ = length;
    nodes_.clear();
    weights_.clear();
    winner_ = -1;
    const std::size_t count =
        down > 0 && across > 0 ? static_cast<std::size_t>(down) * static_cast<std::size_t>(across) : 0;
    nodes_.reserve(count);
    weights_.reserve(length > 0 ? count * static_cast<std::size_t>(length) : 0);
    for (std::int32_t r = 0; r < down; ++r) {
        for (std::int32_t q = 0; q < across; ++q) {
            CSomNode node;
            node.left = cell_width_ * q;
            node.right = cell_width_ * (q + 1);
            node.top = cell_height_ * r;
            node.bottom = cell_height_ * (r + 1);
            node.centre_x = node.left + (node.right - node.left) * 0.5;
            node.centre_y = node.top + (node.bottom - node.top) * 0.5;
            nodes_.push_back(node);
            for (std::int32_t i = 0; i < length; ++i) weights_.push_back((std::rand() & random_mask) * random_scale);
        }
    }
    // The smaller grid dimension sets the starting neighbourhood.
    map_radius_ = 0.5 * std::min(down, across);
    time_constant_ = iterations / std::log(map_radius_);
    counter_ = start;
    done_ = start >= iterations;
    initial_learning_rate_ = 0.1;
}

int CSom::FindBestMatch(const double* x) const {
    double best = std::numeric_limits<double>::infinity();
    int result = -1;
    const std::size_t length = static_cast<std::size_t>(std::max(pattern_length_, 0));
    const double* w = weights_.data();
    for (std::size_t n = 0; n < nodes_.size(); ++n, w += length) {
        double d = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double difference = x[i] - w[i];
            d += difference * difference;
        }
        if (best > d) {
            best = d;
            result = static_cast<int>(n);
        }
    }
    return result;
}

bool CSom::TrainStep(const double* x, std::size_t length, std::int32_t expected_length, bool custom,
                     double radius_factor, double custom_rate) {
    if (expected_length < 0 || length != static_cast<std::size_t>(expected_length) ||
        expected_length != pattern_length_)
        return false;
    if (done_ && !custom) return true;
    if (remaining_ > std::numeric_limits<std::int32_t>::min()) --remaining_;
    if (remaining_ <= 0 && !custom) {
        done_ = true;  // the last iteration only ends the schedule
        return true;
    }
    winner_ = FindBestMatch(x);
    if (custom) {
        current_radius_ = map_radius_ * radius_factor * 2.0;
        learning_rate_ = custom_rate;
    } else {
        current_radius_ = map_radius_ * std::exp(-static_cast<double>(counter_) / time_constant_);
    }
    if (winner_ >= 0) {
        const CSomNode& winner = nodes_[static_cast<std::size_t>(winner_)];
        const double radius_squared = current_radius_ * current_radius_;
        double* w = weights_.data();
        for (std::size_t n = 0; n < nodes_.size(); ++n, w += length) {
            const double dx = winner.centre_x - nodes_[n].centre_x;
            const double dy = winner.centre_y - nodes_[n].centre_y;
            const double distance_squared = dx * dx + dy * dy;
            if (!(radius_squared > distance_squared)) continue;
            const double influence = std::exp(-distance_squared / (2.0 * radius_squared));
            current_influence_ = influence;
            const double step = learning_rate_ * influence;
            for (std::size_t i = 0; i < length; ++i) w[i] = w[i] + (x[i] - w[i]) * step;
        }
    }
    // The rate for the next update.
    if (!custom) learning_rate_ = initial_learning_rate_ * std::exp(-static_cast<double>(counter_) / remaining_);
    if (counter_ < std::numeric_limits<std::int32_t>::max()) ++counter_;
    return true;
}

void CSom::StopTraining() {
    remaining_ = 0;
    counter_ = 0;
    done_ = true;
}

void CSom::RestartTraining(std::int32_t iterations, std::int32_t start) {
    counter_ = start;
    remaining_ = iterations;
    done_ = start >= iterations;
}

void CSom::SetIterations(std::int32_t iterations) {
    remaining_ = iterations;
    counter_ = 0;
}

void CSom::SetLearningRate(double rate) { learning_rate_ = initial_learning_rate_ = rate; }

void CSom::ResetLearningRate() { learning_rate_ = initial_learning_rate_; }

void CSom::ApplyFourCornerPreset() {
    const std::int32_t presets = std::min<std::int32_t>(pattern_length_, 4);
    for (std::int32_t r = 0; r < rows_; ++r) {
        for (std::int32_t q = 0; q < cols_; ++q) {
            int rule = 4;
            if (corner_distance(r, q - cols_) < preset_reach) rule = 0;
            else if (corner_distance(r, q) < preset_reach) rule = 1;
            else if (corner_distance(r - rows_, q) < preset_reach) rule = 2;
            else if (corner_distance(r - rows_, q - cols_) < preset_reach) rule = 3;
            double* w = Weights(r, q);
            for (std::int32_t i = 0; i < presets; ++i) w[i] = preset_weights[rule][i];
        }
    }
}

// ---- matrix formats -------------------------------------------------------

namespace {

// The plane range and whether m has its shape.
matrix_fit plane_range(const CSom& map, const matrix_view& m, std::int32_t& first, std::int32_t& last) {
    if (!map.IsBuilt()) return matrix_fit::not_built;
    first = first == -1 ? 0 : first;
    last = last == -1 ? map.PatternLength() - 1 : last;
    const std::int64_t planes = static_cast<std::int64_t>(last) - first + 1;
    if (m.width != map.Cols() || static_cast<std::int64_t>(m.height) != planes * map.Rows()) return matrix_fit::mismatch;
    return matrix_fit::done;
}

}  // namespace

matrix_fit MapToMatrix(const CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last) {
    const matrix_fit fit = plane_range(map, m, first, last);
    if (fit != matrix_fit::done) return fit;
    const std::int32_t rows = map.Rows(), cols = map.Cols(), length = map.PatternLength();
    for (std::int32_t p = first; p <= last; ++p)
        for (std::int32_t r = 0; r < rows; ++r) {
            const std::int32_t row = (p - first) * rows + r;
            for (std::int32_t q = 0; q < cols; ++q)
                m.at(row, q) = p >= 0 && p < length ? map.Weights(r, q)[p] : -1.0;
        }
    return matrix_fit::done;
}

matrix_fit MatrixToMap(CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last) {
    const matrix_fit fit = plane_range(map, m, first, last);
    if (fit != matrix_fit::done) return fit;
    const std::int32_t rows = map.Rows(), cols = map.Cols(), length = map.PatternLength();
    for (std::int32_t p = std::max(first, 0); p <= last && p < length; ++p)
        for (std::int32_t r = 0; r < rows; ++r) {
            const std::int32_t row = (p - first) * rows + r;
            for (std::int32_t q = 0; q < cols; ++q) map.Weights(r, q)[p] = m.at(row, q);
        }
    return matrix_fit::done;
}

bool HistogramFits(const matrix_view& histogram, std::int32_t classes, std::int32_t rows, std::int32_t cols) {
    return histogram.width == cols &&
           static_cast<std::int64_t>(histogram.height) == static_cast<std::int64_t>(classes) * rows;
}

void UpdateClassPlane(const matrix_view& histogram, std::int32_t classes, std::int32_t rows, std::int32_t cols,
                      std::int32_t enable_unpredictable, const matrix_view& plane) {
    if (enable_unpredictable != 0 && enable_unpredictable != 1) return;
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t q = 0; q < cols; ++q) {
            std::int32_t maximum = 0, best = 0;
            for (std::int32_t k = 0; k < classes; ++k) {
                const double count = histogram.at(k * rows + r, q);
                if (count > maximum) {
                    maximum = TruncateToInt(count);
                    best = k;
                }
            }
            if (enable_unpredictable == 1) {
                plane.at(r, q) = best + 1;
                continue;
            }
            int prevalent = 0;
            for (std::int32_t k = 0; k < classes; ++k)
                if (histogram.at(k * rows + r, q) == maximum) ++prevalent;
            plane.at(r, q) = prevalent == 1 ? best + 1 : -1.0;
        }
    }
}

void AddClassCount(const matrix_view& histogram, std::int32_t rows, std::int32_t value, std::int32_t r,
                   std::int32_t q) {
    double& count = histogram.at((value - 1) * rows + r, q);
    count = std::trunc(count) + 1.0;
}

}  // namespace Mrv
