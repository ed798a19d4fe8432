#include "blocks/som/som.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MRV_SOM_X86 1
// Compiled for AVX2 beside the portable code and chosen at run time, so
// the library still runs on any x86-64. No multiply-add is fused: that
// would change the rounding of the plain loops, and measured no faster.
#define MRV_AVX2 __attribute__((target("avx2")))
#endif

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

som_units FastestSomUnits() {
#if MRV_SOM_X86
    static const som_units fastest = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? som_units::avx2 : som_units::portable;
    }();
    return fastest;
#else
    return som_units::portable;
#endif
}

namespace {

constexpr std::size_t lanes = 4;
// Largest squared grid distance up to which influences are looked up.
constexpr double largest_lookup = 1 << 16;
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The Gaussian neighbourhood of one training step around the winner's
// centre. Cells have whole sizes, so squared grid distances are whole
// numbers and few: each one's influence is computed once per step, with
// the expression the plain loop evaluates for every node, and looked up.
struct neighbourhood {
    double x, y;  // the winner's centre
    double radius_squared;
    double rate;
    const double* influences;  // by squared distance; null: computed per node
    double last_influence = not_a_number;  // of the last node inside, in grid order

    double influence(double d2) const {
        return influences ? influences[static_cast<std::size_t>(d2)] : std::exp(-d2 / (2.0 * radius_squared));
    }
};

// The earliest node of smallest distance among per-slot candidates (each
// the earliest best of its own nodes); -1 when none compared below +inf.
int earliest_best(const double* best, const double* index, std::size_t slots, std::size_t nodes) {
    int result = -1;
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < slots; ++k) {
        if (!(index[k] >= 0.0 && index[k] < static_cast<double>(nodes))) continue;
        const int node = static_cast<int>(index[k]);
        if (best[k] < least || (best[k] == least && node < result)) {
            least = best[k];
            result = node;
        }
    }
    return result;
}

int best_match_portable(const double* weights, std::size_t nodes, std::size_t length, const double* x) {
    double best = std::numeric_limits<double>::infinity();
    int result = -1;
    for (std::size_t n = 0; n < nodes; ++n) {
        const double* w = weights + n / lanes * lanes * length + n % lanes;
        double d = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double difference = x[i] - w[i * lanes];
            d += difference * difference;
        }
        if (best > d) {
            best = d;
            result = static_cast<int>(n);
        }
    }
    return result;
}

void update_portable(double* weights, const double* centre_x, const double* centre_y, std::size_t nodes,
                     std::size_t length, const double* x, neighbourhood& around) {
    for (std::size_t n = 0; n < nodes; ++n) {
        const double dx = around.x - centre_x[n];
        const double dy = around.y - centre_y[n];
        const double distance_squared = dx * dx + dy * dy;
        if (!(around.radius_squared > distance_squared)) continue;
        around.last_influence = around.influence(distance_squared);
        const double step = around.rate * around.last_influence;
        double* w = weights + n / lanes * lanes * length + n % lanes;
        for (std::size_t i = 0; i < length; ++i) w[i * lanes] = w[i * lanes] + (x[i] - w[i * lanes]) * step;
    }
}

#if MRV_SOM_X86
// Blocks in flight in the search: independent sums and minima that keep
// the vector units busy; their loops are unrolled so that they live in
// registers, not on the stack.
constexpr std::size_t search_width = 4;

MRV_AVX2 int best_match_avx2(const double* weights, std::size_t nodes, std::size_t length, const double* x) {
    const std::size_t blocks = (nodes + lanes - 1) / lanes, stride = lanes * length;
    __m256d best[search_width], index[search_width];
#pragma GCC unroll 8
    for (std::size_t k = 0; k < search_width; ++k) {
        best[k] = _mm256_set1_pd(std::numeric_limits<double>::infinity());
        index[k] = _mm256_set1_pd(-1.0);
    }
    __m256d first = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    const __m256d block_step = _mm256_set1_pd(static_cast<double>(lanes));
    std::size_t b = 0;
    for (; b + search_width <= blocks; b += search_width) {
        const double* w = weights + b * stride;
        __m256d d[search_width];
#pragma GCC unroll 8
        for (std::size_t k = 0; k < search_width; ++k) d[k] = _mm256_setzero_pd();
        for (std::size_t i = 0; i < length; ++i) {
            const __m256d xi = _mm256_broadcast_sd(x + i);
#pragma GCC unroll 8
            for (std::size_t k = 0; k < search_width; ++k) {
                const __m256d difference = _mm256_sub_pd(xi, _mm256_load_pd(w + k * stride + i * lanes));
                d[k] = _mm256_add_pd(d[k], _mm256_mul_pd(difference, difference));
            }
        }
#pragma GCC unroll 8
        for (std::size_t k = 0; k < search_width; ++k) {
            const __m256d nearer = _mm256_cmp_pd(best[k], d[k], _CMP_GT_OQ);
            best[k] = _mm256_blendv_pd(best[k], d[k], nearer);
            index[k] = _mm256_blendv_pd(index[k], first, nearer);
            first = _mm256_add_pd(first, block_step);
        }
    }
    for (; b < blocks; ++b) {
        const double* w = weights + b * stride;
        __m256d d = _mm256_setzero_pd();
        for (std::size_t i = 0; i < length; ++i) {
            const __m256d difference = _mm256_sub_pd(_mm256_broadcast_sd(x + i), _mm256_load_pd(w + i * lanes));
            d = _mm256_add_pd(d, _mm256_mul_pd(difference, difference));
        }
        const __m256d nearer = _mm256_cmp_pd(best[0], d, _CMP_GT_OQ);
        best[0] = _mm256_blendv_pd(best[0], d, nearer);
        index[0] = _mm256_blendv_pd(index[0], first, nearer);
        first = _mm256_add_pd(first, block_step);
    }
    alignas(32) double bests[search_width * lanes], indices[search_width * lanes];
#pragma GCC unroll 8
    for (std::size_t k = 0; k < search_width; ++k) {
        _mm256_store_pd(bests + k * lanes, best[k]);
        _mm256_store_pd(indices + k * lanes, index[k]);
    }
    return earliest_best(bests, indices, search_width * lanes, nodes);
}

// Needs the influences looked up (a grid of whole cells).
MRV_AVX2 void update_avx2(double* weights, const double* centre_x, const double* centre_y, std::size_t nodes,
                          std::size_t length, const double* x, neighbourhood& around) {
    const std::size_t blocks = (nodes + lanes - 1) / lanes, stride = lanes * length;
    const __m256d wx = _mm256_set1_pd(around.x), wy = _mm256_set1_pd(around.y);
    const __m256d radius_squared = _mm256_set1_pd(around.radius_squared), rate = _mm256_set1_pd(around.rate);
    __m256d last_influences = _mm256_setzero_pd();
    int last_inside = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const __m256d dx = _mm256_sub_pd(wx, _mm256_load_pd(centre_x + b * lanes));
        const __m256d dy = _mm256_sub_pd(wy, _mm256_load_pd(centre_y + b * lanes));
        const __m256d distance_squared = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
        const __m256d inside = _mm256_cmp_pd(radius_squared, distance_squared, _CMP_GT_OQ);
        const int mask = _mm256_movemask_pd(inside);
        if (mask == 0) continue;
        // Lanes outside are not looked up (their distance may be no index).
        const __m256d influences = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), around.influences,
                                                            _mm256_cvttpd_epi32(distance_squared), inside, 8);
        const __m256d step = _mm256_mul_pd(rate, influences);
        last_influences = influences;
        last_inside = mask;
        double* w = weights + b * stride;
        for (std::size_t i = 0; i < length; ++i) {
            const __m256d old = _mm256_load_pd(w + i * lanes);
            const __m256d moved =
                _mm256_add_pd(old, _mm256_mul_pd(_mm256_sub_pd(_mm256_broadcast_sd(x + i), old), step));
            _mm256_store_pd(w + i * lanes, _mm256_blendv_pd(old, moved, inside));
        }
    }
    if (last_inside == 0) return;
    alignas(32) double last[lanes];
    _mm256_store_pd(last, last_influences);
    around.last_influence = last[31 - __builtin_clz(static_cast<unsigned>(last_inside))];
}
#endif

}  // namespace

void CSom::CreateGrid(std::int32_t width, std::int32_t height, std::int32_t across, std::int32_t down,
                      std::int32_t iterations, std::int32_t start, std::int32_t length) {
    cell_width_ = TruncateToInt(static_cast<double>(width) / across);
    cell_height_ = TruncateToInt(static_cast<double>(height) / down);
    rows_ = down;
    cols_ = across;
    remaining_ = iterations;
    pattern_length_ = length;
    nodes_.clear();
    winner_ = -1;
    ++revision_;
    const std::size_t count =
        down > 0 && across > 0 ? static_cast<std::size_t>(down) * static_cast<std::size_t>(across) : 0;
    const std::size_t padded = (count + lanes - 1) / lanes * lanes;
    nodes_.reserve(count);
    // Lanes past the last node keep NaN: they never match nor move.
    weights_.assign(length > 0 ? padded * static_cast<std::size_t>(length) : 0, not_a_number);
    centre_x_.assign(padded, not_a_number);
    centre_y_.assign(padded, not_a_number);
    for (std::int32_t r = 0; r < down; ++r) {
        for (std::int32_t q = 0; q < across; ++q) {
            CSomNode node;
            node.left = cell_width_ * q;
            node.right = cell_width_ * (q + 1);
            node.top = cell_height_ * r;
            node.bottom = cell_height_ * (r + 1);
            node.centre_x = node.left + (node.right - node.left) * 0.5;
            node.centre_y = node.top + (node.bottom - node.top) * 0.5;
            centre_x_[nodes_.size()] = node.centre_x;
            centre_y_[nodes_.size()] = node.centre_y;
            nodes_.push_back(node);
            for (std::int32_t i = 0; i < length; ++i)
                Weight(nodes_.size() - 1, i) = (std::rand() & random_mask) * random_scale;
        }
    }
    // Every squared distance between two centres, when few enough to look
    // influences up by it.
    grid_distances_.clear();
    influences_.clear();
    const double across_most = static_cast<double>(cell_width_) * std::max(across - 1, 0);
    const double down_most = static_cast<double>(cell_height_) * std::max(down - 1, 0);
    if (across_most * across_most + down_most * down_most < largest_lookup) {
        for (std::int32_t a = 0; a < across; ++a)
            for (std::int32_t b = 0; b < down; ++b) {
                const double dx = static_cast<double>(cell_width_) * a, dy = static_cast<double>(cell_height_) * b;
                grid_distances_.push_back(dx * dx + dy * dy);
            }
        std::sort(grid_distances_.begin(), grid_distances_.end());
        grid_distances_.erase(std::unique(grid_distances_.begin(), grid_distances_.end()), grid_distances_.end());
        influences_.assign(grid_distances_.empty() ? 0 : static_cast<std::size_t>(grid_distances_.back()) + 1, 0.0);
    }
    // The smaller grid dimension sets the starting neighbourhood.
    map_radius_ = 0.5 * std::min(down, across);
    time_constant_ = iterations / std::log(map_radius_);
    counter_ = start;
    done_ = start >= iterations;
    initial_learning_rate_ = 0.1;
}

int CSom::FindBestMatch(const double* x) const {
    const std::size_t length = static_cast<std::size_t>(std::max(pattern_length_, 0));
#if MRV_SOM_X86
    if (units_ == som_units::avx2) return best_match_avx2(weights_.data(), nodes_.size(), length, x);
#endif
    return best_match_portable(weights_.data(), nodes_.size(), length, x);
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
        const bool look_up = !influences_.empty();
        for (const double d2 : grid_distances_) {
            if (!(radius_squared > d2)) break;
            influences_[static_cast<std::size_t>(d2)] = std::exp(-d2 / (2.0 * radius_squared));
        }
        neighbourhood around{winner.centre_x, winner.centre_y, radius_squared, learning_rate_,
                             look_up ? influences_.data() : nullptr};
#if MRV_SOM_X86
        if (units_ == som_units::avx2 && look_up)
            update_avx2(weights_.data(), centre_x_.data(), centre_y_.data(), nodes_.size(), length, x, around);
        else
#endif
            update_portable(weights_.data(), centre_x_.data(), centre_y_.data(), nodes_.size(), length, x, around);
        if (!std::isnan(around.last_influence)) current_influence_ = around.last_influence;
        ++revision_;
    }
    // The rate for the next update.
    if (!custom) learning_rate_ = initial_learning_rate_ * std::exp(-static_cast<double>(counter_) / remaining_);
    if (counter_ < std::numeric_limits<std::int32_t>::max()) ++counter_;
    return true;
}

void CSom::CopyPlane(std::int32_t p, double* plane) const {
    const std::size_t nodes = nodes_.size(), stride = lanes * static_cast<std::size_t>(pattern_length_);
    const double* block = weights_.data() + static_cast<std::size_t>(p) * lanes;
    std::size_t n = 0;
    for (; n + lanes <= nodes; n += lanes, block += stride) std::memcpy(plane + n, block, sizeof(double) * lanes);
    for (std::size_t j = 0; n + j < nodes; ++j) plane[n + j] = block[j];
}

void CSom::SetPlane(std::int32_t p, const double* plane) {
    ++revision_;
    const std::size_t nodes = nodes_.size(), stride = lanes * static_cast<std::size_t>(pattern_length_);
    double* block = weights_.data() + static_cast<std::size_t>(p) * lanes;
    std::size_t n = 0;
    for (; n + lanes <= nodes; n += lanes, block += stride) std::memcpy(block, plane + n, sizeof(double) * lanes);
    for (std::size_t j = 0; n + j < nodes; ++j) block[j] = plane[n + j];
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
            for (std::int32_t i = 0; i < presets; ++i) Weight(r, q, i) = preset_weights[rule][i];
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

// A fitting matrix holds plane after plane, each rows x cols values in the
// map's row-major node order.
matrix_fit MapToMatrix(const CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last) {
    const matrix_fit fit = plane_range(map, m, first, last);
    if (fit != matrix_fit::done) return fit;
    const std::size_t nodes = map.NodeCount();
    for (std::int32_t p = first; p <= last; ++p) {
        double* plane = m.values + static_cast<std::size_t>(p - first) * nodes;
        if (p >= 0 && p < map.PatternLength()) map.CopyPlane(p, plane);
        else std::fill(plane, plane + nodes, -1.0);
    }
    return matrix_fit::done;
}

matrix_fit MatrixToMap(CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last) {
    const matrix_fit fit = plane_range(map, m, first, last);
    if (fit != matrix_fit::done) return fit;
    const std::size_t nodes = map.NodeCount();
    for (std::int32_t p = std::max(first, 0); p <= last && p < map.PatternLength(); ++p)
        map.SetPlane(p, m.values + static_cast<std::size_t>(p - first) * nodes);
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
