// The self-organizing map engine: a rectangular grid of nodes trained one
// input vector at a time with a shrinking Gaussian neighbourhood, plus the
// matrix formats in which the map and its class statistics are kept.
//
// The weights of all nodes live in one contiguous array (node after node,
// pattern-length values each), so that the best-match search and the
// update run over flat memory; node records keep only their cells. The
// arithmetic and its order are those of the schedules below, so results do
// not depend on the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Mrv {

// One node's cell on the grid.
struct CSomNode {
    double centre_x = 0.0;
    double centre_y = 0.0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class CSom {
public:
    // Builds a down x across grid of nodes with random weights in [0, 1)
    // (the C library generator, never seeded here). Cells are
    // trunc(width / across) x trunc(height / down).
    void CreateGrid(std::int32_t width, std::int32_t height, std::int32_t across, std::int32_t down,
                    std::int32_t iterations, std::int32_t start, std::int32_t length);

    // The node whose weights are nearest to x (squared distance over the
    // node's weights); ties keep the earlier node in row-major order. -1
    // for an empty grid or when no distance compares (NaN). x must hold at
    // least PatternLength() values.
    int FindBestMatch(const double* x) const;

    // One training iteration. False, with nothing changed, when
    // `length` (the length of x) is not `expected_length` or not the
    // map's pattern length. Automatic schedules (custom false) end after
    // iterations - 1 updates; custom ones use radius factor x min(rows,
    // cols) and the given rate and never end by themselves.
    // With no winner (x holds a NaN or an infinity, or the grid is empty)
    // no weight changes, but the step still counts as an iteration:
    // remaining falls, the counter rises, the current radius is computed
    // and, in automatic mode, the learning rate moves on as after an
    // update. Both counters stop at the ends of their range instead of
    // overflowing.
    bool TrainStep(const double* x, std::size_t length, std::int32_t expected_length, bool custom,
                   double radius_factor, double custom_rate);

    void StopTraining();
    void RestartTraining(std::int32_t iterations, std::int32_t start);
    void SetIterations(std::int32_t iterations);
    void SetLearningRate(double rate);
    void ResetLearningRate();

    // The fixed "I-Search" start: each node's first four weights from the
    // nearest grid corner (within 10 steps), zeros elsewhere.
    void ApplyFourCornerPreset();

    std::int32_t Rows() const { return rows_; }
    std::int32_t Cols() const { return cols_; }
    std::int32_t PatternLength() const { return pattern_length_; }
    double MapRadius() const { return map_radius_; }
    // A map radius of 0 means CreateGrid never ran.
    bool IsBuilt() const { return map_radius_ != 0.0; }
    bool Done() const { return done_; }
    std::int32_t Remaining() const { return remaining_; }
    std::int32_t Counter() const { return counter_; }
    double TimeConstant() const { return time_constant_; }
    double CurrentRadius() const { return current_radius_; }
    double CurrentInfluence() const { return current_influence_; }
    double LearningRate() const { return learning_rate_; }
    double InitialLearningRate() const { return initial_learning_rate_; }
    std::int32_t CellWidth() const { return cell_width_; }
    std::int32_t CellHeight() const { return cell_height_; }
    // Best match of the last TrainStep, -1 when none.
    int Winner() const { return winner_; }

    std::size_t NodeCount() const { return nodes_.size(); }
    const CSomNode& Node(std::int32_t r, std::int32_t q) const { return nodes_[Index(r, q)]; }
    const CSomNode& Node(std::size_t index) const { return nodes_[index]; }
    double* Weights(std::int32_t r, std::int32_t q) { return Weights(Index(r, q)); }
    const double* Weights(std::int32_t r, std::int32_t q) const { return Weights(Index(r, q)); }
    double* Weights(std::size_t index) { return weights_.data() + index * Stride(); }
    const double* Weights(std::size_t index) const { return weights_.data() + index * Stride(); }

private:
    // A pattern length below 0 gives nodes without weights.
    std::size_t Stride() const { return pattern_length_ > 0 ? static_cast<std::size_t>(pattern_length_) : 0; }
    std::size_t Index(std::int32_t r, std::int32_t q) const {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(q);
    }

    std::vector<CSomNode> nodes_;
    std::vector<double> weights_;
    int winner_ = -1;
    double map_radius_ = 0.0;
    double time_constant_ = 0.0;
    std::int32_t remaining_ = 0;
    std::int32_t counter_ = 1;
    double current_radius_ = 0.0;
    double current_influence_ = 0.0;
    double learning_rate_ = 0.1;
    double initial_learning_rate_ = 0.1;
    bool done_ = false;
    std::int32_t cell_width_ = 0, cell_height_ = 0;
    std::int32_t pattern_length_ = 0;
    std::int32_t rows_ = 0, cols_ = 0;
};

// ---- matrix formats -------------------------------------------------------
//
// A matrix here is row-major `values` of `height` x `width`.
//
// Weight planes: width cols, height rows x P; element (p x rows + r, q) is
// weight p of node (r, q). Class histograms: width cols, height rows x K;
// element (k x rows + r, q) counts the inputs of class k + 1 that matched
// node (r, q). Class plane: rows x cols class decisions.

struct matrix_view {
    double* values;
    std::int32_t height;
    std::int32_t width;
    double& at(std::int32_t row, std::int32_t column) const {
        return values[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(column)];
    }
};

enum class matrix_fit {
    not_built,  // the map was never built: nothing done
    mismatch,   // the matrix does not have the planes' shape: nothing done
    done,
};

// Planes first..last (-1: from the first / to the last plane) into m;
// planes beyond the node's weights are written as -1.
matrix_fit MapToMatrix(const CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last);
// Planes first..last from m into the nodes' weights.
matrix_fit MatrixToMap(CSom& map, const matrix_view& m, std::int32_t first, std::int32_t last);

// Whether a class histogram matrix has the shape of `classes` blocks of a
// rows x cols map.
bool HistogramFits(const matrix_view& histogram, std::int32_t classes, std::int32_t rows, std::int32_t cols);

// Recomputes every element of `plane` (rows x cols) from the histograms.
// enable_unpredictable 0: a node without a single prevalent class is -1;
// 1: the first of the prevalent classes (class 1 for a node never hit);
// any other value leaves the plane as it is. The caller checks the shapes.
void UpdateClassPlane(const matrix_view& histogram, std::int32_t classes, std::int32_t rows, std::int32_t cols,
                      std::int32_t enable_unpredictable, const matrix_view& plane);

// Counts one input of class `value` (1..classes) at node (r, q); the caller
// checks the range and the shape.
void AddClassCount(const matrix_view& histogram, std::int32_t rows, std::int32_t value, std::int32_t r,
                   std::int32_t q);

// Truncation toward zero that saturates instead of overflowing; NaN is 0.
std::int32_t TruncateToInt(double value);

}  // namespace Mrv
