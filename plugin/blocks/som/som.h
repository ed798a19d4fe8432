// The self-organizing map engine: a rectangular grid of nodes trained one
// input vector at a time with a shrinking Gaussian neighbourhood, plus the
// matrix formats in which the map and its class statistics are kept.
//
// The weights live in one array of blocks of four nodes: a block holds
// weight 0 of its four nodes, then weight 1, and so on. The best-match
// search and the update then work on four nodes per vector instruction
// while each node's sum and update keep the order and the operations of
// the plain per-node loops, so results are the same to the bit whichever
// units run them. Lanes past the last node hold NaN weights and never
// match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace Mrv {

// Storage on 32-byte boundaries, so that a block's vectors are loaded whole.
template <class T>
struct vector_aligned {
    using value_type = T;
    static constexpr std::align_val_t alignment{32};
    vector_aligned() = default;
    template <class U>
    vector_aligned(const vector_aligned<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), alignment)); }
    void deallocate(T* p, std::size_t) { ::operator delete(p, alignment); }
    bool operator==(const vector_aligned&) const { return true; }
    bool operator!=(const vector_aligned&) const { return false; }
};

// Which units run the best-match search and the update: plain loops that
// any x86-64 (or other) processor runs, or AVX2 vectors where the
// processor has them.
enum class som_units { portable, avx2 };
// The fastest units this processor has.
som_units FastestSomUnits();

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
    // for an empty grid or when no distance compares below +infinity (a
    // NaN or infinite feature). x must hold at least PatternLength() values.
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
    // Weight i of a node, by index in row-major order or by (r, q).
    double& Weight(std::size_t node, std::int32_t i) {
        ++revision_;
        return weights_[WeightIndex(node, i)];
    }
    double Weight(std::size_t node, std::int32_t i) const { return weights_[WeightIndex(node, i)]; }
    double& Weight(std::int32_t r, std::int32_t q, std::int32_t i) { return Weight(Index(r, q), i); }
    double Weight(std::int32_t r, std::int32_t q, std::int32_t i) const { return Weight(Index(r, q), i); }

    // Changes whenever the grid is rebuilt or a weight may have changed.
    std::uint64_t Revision() const { return revision_; }

    // Weight p of every node, in row-major order (NodeCount() values), out
    // of the map or into it.
    void CopyPlane(std::int32_t p, double* plane) const;
    void SetPlane(std::int32_t p, const double* plane);

    // Portable loops or vectors; the fastest the processor has unless
    // changed (the results are the same).
    void UseUnits(som_units units) { units_ = units; }

private:
    static constexpr std::size_t lanes = 4;  // nodes per block of weights

    std::size_t Index(std::int32_t r, std::int32_t q) const {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(q);
    }
    std::size_t WeightIndex(std::size_t node, std::int32_t i) const {
        return (node / lanes * static_cast<std::size_t>(pattern_length_) + static_cast<std::size_t>(i)) * lanes +
               node % lanes;
    }

    std::vector<CSomNode> nodes_;
    std::vector<double, vector_aligned<double>> weights_;             // blocks of four nodes
    std::vector<double, vector_aligned<double>> centre_x_, centre_y_;  // NaN past the last node
    std::vector<double> grid_distances_;  // the squared distances between centres, ascending
    std::vector<double> influences_;      // by squared distance, for the current TrainStep
    som_units units_ = FastestSomUnits();
    std::uint64_t revision_ = 0;
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
