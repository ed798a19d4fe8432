// Pictures of values for the image and plot sinks: heatmaps of matrices
// and bar or line charts of series, drawn with Cairo and written as PNG
// files that replace the old picture in one step. No SDK types here, so the
// drawing is tested on its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mrvhost {

// A read-only view of a row-major matrix of doubles or ints (not copied).
struct MatrixView {
    const double* reals = nullptr;
    const int* ints = nullptr;
    int rows = 0;
    int cols = 0;
    double at(int r, int c) const {
        const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
        return reals ? reals[i] : static_cast<double>(ints[i]);
    }
    // Plane `k` of `count` stacked vertically, each rows / count high.
    MatrixView plane(int k, int count) const;
};

// Cells of a heatmap panel. In argmax mode a cell holds a plane index, or
// one of these.
constexpr double tie_cell = -1.0;

// One panel as drawn: at most `largest_panel_side` cells a side, sampled
// from the full matrix; the value range and the non-finite counts are of
// the full matrix.
struct Panel {
    std::string name;
    int rows = 0, cols = 0;              // the full matrix's shape
    int drawn_rows = 0, drawn_cols = 0;  // the cells kept
    std::vector<double> cells;           // drawn_rows x drawn_cols
};
constexpr int largest_panel_side = 400;

// What a heatmap shows; built as values arrive, so a huge input is read
// once and never copied.
class Heatmap {
public:
    // `planes`: the input is k planes stacked vertically; `argmax`: draw
    // the index of the largest plane per cell instead of the values.
    Heatmap(int planes, bool argmax) : planes_(planes < 1 ? 1 : planes), argmax_(argmax) {}
    // Names for the planes in captions and the legend ("plane k" beyond).
    void name_planes(std::vector<std::string> names) { plane_names_ = std::move(names); }
    std::string plane_label(int k) const;
    void clear();
    // Adds one matrix, split into its planes (or their argmax); throws
    // std::invalid_argument when its height is not a multiple of planes.
    void add(const std::string& name, const MatrixView& matrix);

    const std::vector<Panel>& panels() const { return panels_; }
    bool argmax() const { return argmax_; }
    // Finite range over every cell; equal when constant; 0, 0 when none.
    double minimum() const { return has_finite_ ? minimum_ : 0.0; }
    double maximum() const { return has_finite_ ? maximum_ : 0.0; }
    long long nan_cells() const { return nan_cells_; }
    long long infinite_cells() const { return infinite_cells_; }
    long long tie_cells() const { return tie_cells_; }
    int categories() const { return categories_; }

private:
    void note(double value);
    int planes_;
    bool argmax_;
    std::vector<Panel> panels_;
    bool has_finite_ = false;
    double minimum_ = 0.0, maximum_ = 0.0;
    long long nan_cells_ = 0, infinite_cells_ = 0, tie_cells_ = 0;
    int categories_ = 0;
    std::vector<std::string> plane_names_;
};

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
// Viridis at t in [0, 1].
Rgb viridis(double t);
// The categorical colour of plane index `k` (repeats after ten).
Rgb category_colour(int k);
extern const Rgb nan_colour, infinite_colour, tie_colour;

// Where a drawn cell lies in the picture, for readers of the picture.
struct CellBox {
    double x, y, width, height;
};

// A heatmap's picture: panels side by side, each titled, then the colour
// bar with its minimum and maximum (or the legend of categories).
class HeatmapPicture {
public:
    explicit HeatmapPicture(const Heatmap& heatmap, std::string title = "");
    int width() const { return width_; }
    int height() const { return height_; }
    // The box of drawn cell (r, c) of panel p.
    CellBox cell(std::size_t p, int r, int c) const;
    // Draws and writes the PNG, replacing `path` in one step; throws
    // std::runtime_error when it cannot.
    void write(const std::string& path) const;

private:
    const Heatmap& heatmap_;
    std::string title_;
    double cell_size_ = 1.0;
    std::vector<double> panel_x_;
    int width_ = 0, height_ = 0;
};

// A chart of series over shared x values.
struct Chart {
    std::string title;
    std::vector<std::vector<double>> series;
    std::vector<double> x;  // empty: 0, 1, 2, ...
    bool bars = true;
};
constexpr int chart_width = 640, chart_height = 400;
// The plotting area of a chart in picture coordinates.
CellBox chart_area(const Chart& chart);
// Draws the chart and replaces `path` in one step.
void write_chart(const Chart& chart, const std::string& path);
// The colour of series `k`.
inline Rgb series_colour(int k) { return category_colour(k); }

}  // namespace mrvhost
