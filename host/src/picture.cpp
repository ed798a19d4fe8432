#include "host/picture.h"

#include <cairo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>

#include "host/data_files.h"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig, which Cairo's text loads, keeps its configuration for the
// life of the process; LeakSanitizer would report it at every exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace mrvhost {

MatrixView MatrixView::plane(int k, int count) const {
    MatrixView view = *this;
    view.rows = rows / count;
    const std::size_t offset = static_cast<std::size_t>(k) * static_cast<std::size_t>(view.rows) * static_cast<std::size_t>(cols);
    if (reals) view.reals = reals + offset;
    if (ints) view.ints = ints + offset;
    return view;
}

void Heatmap::clear() {
    panels_.clear();
    has_finite_ = false;
    minimum_ = maximum_ = 0.0;
    nan_cells_ = infinite_cells_ = tie_cells_ = 0;
}

void Heatmap::note(double value) {
    if (std::isnan(value)) {
        ++nan_cells_;
    } else if (std::isinf(value)) {
        ++infinite_cells_;
    } else if (!has_finite_) {
        has_finite_ = true;
        minimum_ = maximum_ = value;
    } else {
        minimum_ = std::min(minimum_, value);
        maximum_ = std::max(maximum_, value);
    }
}

namespace {

// Drawn cell i of `drawn` stands for full cell i * full / drawn: a nearest
// sample, so memory stays bounded and categories stay categories.
int sampled(int i, int drawn, int full) {
    return static_cast<int>(static_cast<long long>(i) * full / std::max(drawn, 1));
}

Panel sampled_panel(const std::string& name, int rows, int cols) {
    Panel panel;
    panel.name = name;
    panel.rows = rows;
    panel.cols = cols;
    panel.drawn_rows = std::min(rows, largest_panel_side);
    panel.drawn_cols = std::min(cols, largest_panel_side);
    panel.cells.resize(static_cast<std::size_t>(panel.drawn_rows) * static_cast<std::size_t>(panel.drawn_cols));
    return panel;
}

}  // namespace

void Heatmap::add(const std::string& name, const MatrixView& matrix) {
    if (matrix.rows % planes_ != 0)
        throw std::invalid_argument("a height of " + std::to_string(matrix.rows) + " is not a multiple of " +
                                    std::to_string(planes_) + " planes");
    const int plane_rows = matrix.rows / planes_;
    auto plane_name = [&](int k) { return planes_ == 1 ? name : (name.empty() ? "" : name + " ") + plane_label(k); };
    if (argmax_) {
        categories_ = std::max(categories_, planes_);
        Panel panel = sampled_panel(name, plane_rows, matrix.cols);
        for (int i = 0; i < panel.drawn_rows; ++i)
            for (int j = 0; j < panel.drawn_cols; ++j) {
                const int r = sampled(i, panel.drawn_rows, plane_rows), c = sampled(j, panel.drawn_cols, matrix.cols);
                double best = -std::numeric_limits<double>::infinity(), cell = tie_cell;
                int at_best = 0;
                for (int k = 0; k < planes_ && !std::isnan(cell); ++k) {
                    const double v = matrix.at(k * plane_rows + r, c);
                    if (std::isnan(v)) cell = v;
                    else if (v > best || at_best == 0) best = v, at_best = 1, cell = k;
                    else if (v == best) ++at_best;
                }
                if (std::isnan(cell)) ++nan_cells_;
                else if (at_best > 1) cell = tie_cell, ++tie_cells_;
                panel.cells[static_cast<std::size_t>(i) * static_cast<std::size_t>(panel.drawn_cols) +
                            static_cast<std::size_t>(j)] = cell;
            }
        panels_.push_back(std::move(panel));
        return;
    }
    for (int k = 0; k < planes_; ++k) {
        const MatrixView plane = matrix.plane(k, planes_);
        // The range and the non-finite cells count every cell, drawn or not.
        for (int r = 0; r < plane.rows; ++r)
            for (int c = 0; c < plane.cols; ++c) note(plane.at(r, c));
        Panel panel = sampled_panel(plane_name(k), plane.rows, plane.cols);
        for (int i = 0; i < panel.drawn_rows; ++i)
            for (int j = 0; j < panel.drawn_cols; ++j)
                panel.cells[static_cast<std::size_t>(i) * static_cast<std::size_t>(panel.drawn_cols) +
                            static_cast<std::size_t>(j)] =
                    plane.at(sampled(i, panel.drawn_rows, plane.rows), sampled(j, panel.drawn_cols, plane.cols));
        panels_.push_back(std::move(panel));
    }
}

std::string Heatmap::plane_label(int k) const {
    const auto at = static_cast<std::size_t>(k);
    return at < plane_names_.size() && !plane_names_[at].empty() ? plane_names_[at] : "plane " + std::to_string(k);
}

// Matplotlib's viridis at nine evenly spaced points, interpolated.
Rgb viridis(double t) {
    static const Rgb stops[] = {{0x44, 0x01, 0x54}, {0x47, 0x2d, 0x7b}, {0x3b, 0x52, 0x8b},
                                {0x2c, 0x72, 0x8e}, {0x21, 0x91, 0x8c}, {0x28, 0xae, 0x80},
                                {0x5e, 0xc9, 0x62}, {0xad, 0xdc, 0x30}, {0xfd, 0xe7, 0x25}};
    if (!(t > 0.0)) return stops[0];
    if (t >= 1.0) return stops[8];
    const double at = t * 8.0;
    const int i = static_cast<int>(at);
    const double f = at - i;
    auto mix = [&](unsigned char a, unsigned char b) {
        return static_cast<unsigned char>(std::lround(a + (b - a) * f));
    };
    return {mix(stops[i].r, stops[i + 1].r), mix(stops[i].g, stops[i + 1].g), mix(stops[i].b, stops[i + 1].b)};
}

// Tableau's ten categories without its grey, which marks ties.
Rgb category_colour(int k) {
    static const Rgb palette[] = {{0x1f, 0x77, 0xb4}, {0xff, 0x7f, 0x0e}, {0x2c, 0xa0, 0x2c},
                                  {0xd6, 0x27, 0x28}, {0x94, 0x67, 0xbd}, {0x8c, 0x56, 0x4b},
                                  {0xe3, 0x77, 0xc2}, {0xbc, 0xbd, 0x22}, {0x17, 0xbe, 0xcf}};
    const int n = static_cast<int>(sizeof palette / sizeof palette[0]);
    return palette[((k % n) + n) % n];
}

const Rgb nan_colour{0xff, 0x00, 0xff};
const Rgb infinite_colour{0xff, 0x00, 0x00};
const Rgb tie_colour{0x80, 0x80, 0x80};


namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

constexpr double margin = 16, title_height = 26, panel_title_height = 18, gap = 18, legend_width = 130;

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

void set_colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

void box(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
    set_colour(cr, c);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// `align`: 0 left, 0.5 centred, 1 right of x; y is the baseline.
void text(cairo_t* cr, const std::string& s, double x, double y, double size = 12, double align = 0) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s.c_str(), &extents);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, x - extents.x_advance * align, y);
    cairo_show_text(cr, s.c_str());
}

cairo_status_t write_to_file(void* closure, const unsigned char* data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                  : CAIRO_STATUS_WRITE_ERROR;
}

// Written beside the target and renamed over it, so a reader sees the old
// picture or the new one, never half of one.
void write_png(cairo_surface_t* surface, const std::string& path) {
    replace_file(path, [&](std::FILE* file) {
        const cairo_status_t status = cairo_surface_write_to_png_stream(surface, write_to_file, file);
        if (status != CAIRO_STATUS_SUCCESS)
            throw std::runtime_error("cannot write \"" + path + "\": " + cairo_status_to_string(status));
    });
}

struct Canvas {
    Canvas(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy),
          cr(cairo_create(surface.get()), cairo_destroy) {
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
            throw std::runtime_error("cannot draw a " + std::to_string(width) + "x" + std::to_string(height) + " picture");
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
        cairo_paint(cr.get());
    }
    Surface surface;
    Context cr;
};

// One legend line: a swatch and its label.
void legend_entry(cairo_t* cr, double x, double& y, Rgb colour, const std::string& label) {
    box(cr, x, y, 14, 14, colour);
    text(cr, label, x + 20, y + 12);
    y += 20;
}

}  // namespace

HeatmapPicture::HeatmapPicture(const Heatmap& heatmap, std::string title) : heatmap_(heatmap), title_(std::move(title)) {
    int side = 1;
    for (const auto& panel : heatmap.panels()) side = std::max({side, panel.drawn_rows, panel.drawn_cols});
    // Small maps get big cells; a sampled 400-cell side gets one pixel each.
    cell_size_ = std::clamp(320 / side, 1, 40);
    double x = margin, tallest = 40;
    for (const auto& panel : heatmap.panels()) {
        panel_x_.push_back(x);
        x += std::max(60.0, panel.drawn_cols * cell_size_) + gap;
        tallest = std::max(tallest, panel.drawn_rows * cell_size_);
    }
    if (heatmap.panels().empty()) x += 60 + gap;
    const double legend_lines = heatmap.argmax() ? heatmap.categories() + 2 : 3;
    const double legend = heatmap.argmax() ? legend_lines * 20 : std::max(tallest, 160.0);
    width_ = static_cast<int>(x + legend_width);
    height_ = static_cast<int>(margin + (title_.empty() ? 0 : title_height) + panel_title_height +
                               std::max(tallest, legend) + margin + 20);
}

CellBox HeatmapPicture::cell(std::size_t p, int r, int c) const {
    const double top = margin + (title_.empty() ? 0 : title_height) + panel_title_height;
    return {panel_x_.at(p) + c * cell_size_, top + r * cell_size_, cell_size_, cell_size_};
}

void HeatmapPicture::write(const std::string& path) const {
    Canvas canvas(width_, height_);
    cairo_t* cr = canvas.cr.get();
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    if (!title_.empty()) text(cr, title_, margin, margin + 16, 16);
    const double low = heatmap_.minimum(), high = heatmap_.maximum();
    auto colour_of = [&](double v) {
        if (std::isnan(v)) return nan_colour;
        if (heatmap_.argmax()) return v == tie_cell ? tie_colour : category_colour(static_cast<int>(v));
        if (std::isinf(v)) return infinite_colour;
        // A constant matrix takes the middle colour.
        return viridis(high > low ? (v - low) / (high - low) : 0.5);
    };
    const auto& panels = heatmap_.panels();
    const double top = margin + (title_.empty() ? 0 : title_height) + panel_title_height;
    for (std::size_t p = 0; p < panels.size(); ++p) {
        const Panel& panel = panels[p];
        const std::string caption = (panel.name.empty() ? "" : panel.name + " ") + "(" + std::to_string(panel.rows) +
                                    "x" + std::to_string(panel.cols) + ")";
        text(cr, caption, panel_x_[p], top - 5, 11);
        if (panel.cells.empty()) text(cr, "empty", panel_x_[p], top + 16, 11);
        for (int r = 0; r < panel.drawn_rows; ++r)
            for (int c = 0; c < panel.drawn_cols; ++c) {
                const CellBox b = cell(p, r, c);
                box(cr, b.x, b.y, b.width, b.height,
                    colour_of(panel.cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(panel.drawn_cols) +
                                          static_cast<std::size_t>(c)]));
            }
    }
    if (panels.empty()) text(cr, "no value", margin, top + 16, 11);
    double x = width_ - legend_width + 4, y = top;
    if (heatmap_.argmax()) {
        for (int k = 0; k < heatmap_.categories(); ++k)
            legend_entry(cr, x, y, category_colour(k), heatmap_.plane_label(k));
        legend_entry(cr, x, y, tie_colour, "tie");
    } else {
        // The colour bar, maximum at the top.
        const double bar = height_ - top - margin - 20 - (heatmap_.nan_cells() || heatmap_.infinite_cells() ? 44 : 0);
        for (int i = 0; i < static_cast<int>(bar); ++i)
            box(cr, x, y + i, 20, 1, viridis(1.0 - i / std::max(bar - 1, 1.0)));
        text(cr, number_text(high), x + 26, y + 10, 11);
        text(cr, number_text(low), x + 26, y + bar, 11);
        y += bar + 6;
        if (heatmap_.infinite_cells()) legend_entry(cr, x, y, infinite_colour, "infinite");
    }
    if (heatmap_.nan_cells()) legend_entry(cr, x, y, nan_colour, "NaN");
    write_png(canvas.surface.get(), path);
}

namespace {

// Tick marks at 1, 2 or 5 times a power of ten, about five over the range.
std::vector<double> ticks(double low, double high) {
    const double raw = (high - low) / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double step = raw / power < 1.5 ? power : raw / power < 3.5 ? 2 * power : raw / power < 7.5 ? 5 * power : 10 * power;
    std::vector<double> result;
    for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9 && result.size() < 50; t += step)
        result.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    return result;
}

// A finite range holding every value (and `with`), never empty.
std::pair<double, double> range_of(const std::vector<double>& values, double with) {
    double low = with, high = with;
    for (double v : values)
        if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    if (!(high > low)) high = low + 1;
    return {low, high};
}

}  // namespace

CellBox chart_area(const Chart& chart) {
    const double legend = chart.series.size() > 1 ? legend_width : 0;
    return {70, 40, chart_width - 70 - 20 - legend, chart_height - 40 - 50};
}

void write_chart(const Chart& chart, const std::string& path) {
    Canvas canvas(chart_width, chart_height);
    cairo_t* cr = canvas.cr.get();
    const CellBox area = chart_area(chart);
    text(cr, chart.title, chart_width / 2.0, 24, 15, 0.5);
    std::size_t points = 0;
    std::vector<double> all;
    for (const auto& s : chart.series) points = std::max(points, s.size()), all.insert(all.end(), s.begin(), s.end());
    auto x_value = [&](std::size_t i) { return i < chart.x.size() ? chart.x[i] : static_cast<double>(i); };
    // Bars stand on zero; lines span their own values.
    const auto [low, high] = range_of(all, chart.bars || all.empty() ? 0.0 : all.front());
    auto y_of = [&](double v) { return area.y + area.height * (high - v) / (high - low); };
    cairo_set_line_width(cr, 1);
    for (double t : ticks(low, high)) {
        const double y = std::round(y_of(t)) + 0.5;
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_move_to(cr, area.x, y);
        cairo_line_to(cr, area.x + area.width, y);
        cairo_stroke(cr);
        text(cr, number_text(t), area.x - 6, y + 4, 11, 1);
    }
    const int series = static_cast<int>(chart.series.size());
    if (chart.bars) {
        const double slot = area.width / static_cast<double>(std::max<std::size_t>(points, 1));
        const double bar = slot * 0.8 / std::max(series, 1);
        const std::size_t every = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(points * 50.0 / area.width)));
        for (std::size_t i = 0; i < points; ++i) {
            for (int s = 0; s < series; ++s) {
                const auto& values = chart.series[static_cast<std::size_t>(s)];
                if (i >= values.size() || !std::isfinite(values[i])) continue;
                const double y0 = y_of(0), y1 = y_of(values[i]);
                box(cr, area.x + i * slot + 0.1 * slot + s * bar, std::min(y0, y1), bar, std::abs(y1 - y0),
                    series_colour(s));
            }
            if (i % every == 0) text(cr, number_text(x_value(i)), area.x + (i + 0.5) * slot, area.y + area.height + 16, 11, 0.5);
        }
    } else {
        std::vector<double> xs;
        for (std::size_t i = 0; i < points; ++i) xs.push_back(x_value(i));
        const auto [left, right] = range_of(xs, xs.empty() ? 0.0 : xs.front());
        auto x_of = [&, left = left, right = right](double v) { return area.x + area.width * (v - left) / (right - left); };
        for (double t : ticks(left, right)) text(cr, number_text(t), x_of(t), area.y + area.height + 16, 11, 0.5);
        cairo_set_line_width(cr, 2);
        for (int s = 0; s < series; ++s) {
            const auto& values = chart.series[static_cast<std::size_t>(s)];
            bool drawing = false;
            // A non-finite value breaks the line.
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (!std::isfinite(values[i]) || !std::isfinite(x_value(i))) {
                    drawing = false;
                    continue;
                }
                (drawing ? cairo_line_to : cairo_move_to)(cr, x_of(x_value(i)), y_of(values[i]));
                drawing = true;
            }
            set_colour(cr, series_colour(s));
            cairo_stroke(cr);
        }
    }
    // Axes over the bars.
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, area.x + 0.5, area.y);
    cairo_line_to(cr, area.x + 0.5, area.y + area.height + 0.5);
    cairo_line_to(cr, area.x + area.width, area.y + area.height + 0.5);
    cairo_stroke(cr);
    if (series > 1) {
        double y = area.y;
        for (int s = 0; s < series; ++s)
            legend_entry(cr, area.x + area.width + 16, y, series_colour(s), "series " + std::to_string(s));
    }
    write_png(canvas.surface.get(), path);
}

}  // namespace mrvhost
