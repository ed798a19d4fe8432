// Heatmaps and charts drawn and read back with Cairo: sizes, the colours of
// chosen cells, argmax categories, non-finite cells, atomic replacement.
#include <gtest/gtest.h>

#include <cairo.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <ostream>
#include <thread>

#include "common/files.h"
#include "common/live_objects_test.h"
#include "host/patch.h"
#include "host/picture.h"

namespace mrvhost {
void PrintTo(const Rgb& c, std::ostream* out) { *out << +c.r << "," << +c.g << "," << +c.b; }
}  // namespace mrvhost

namespace {

namespace fs = std::filesystem;
using namespace mrvhost;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Png {
    explicit Png(const fs::path& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(surface); }
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    Rgb at(double x, double y) const {
        const unsigned char* row = cairo_image_surface_get_data(surface) +
                                   static_cast<int>(y) * cairo_image_surface_get_stride(surface);
        const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(row)[static_cast<int>(x)];
        return {static_cast<unsigned char>(pixel >> 16), static_cast<unsigned char>(pixel >> 8),
                static_cast<unsigned char>(pixel)};
    }
    // The colour drawn at the centre of cell (r, c) of panel p.
    Rgb cell(const HeatmapPicture& picture, std::size_t p, int r, int c) const {
        const CellBox box = picture.cell(p, r, c);
        return at(box.x + box.width / 2, box.y + box.height / 2);
    }
    cairo_surface_t* surface;
};

class Pictures : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    void TearDown() override {
        LiveObjectsTest::TearDown();
        fs::remove_all(folder);
    }
    fs::path folder = fresh_test_folder("mrv-pictures");
    std::unique_ptr<Patch> patch;
};

MatrixView view(const std::vector<double>& cells, int rows, int cols) { return {cells.data(), nullptr, rows, cols}; }

TEST_F(Pictures, HeatmapColoursCellsAcrossTheFiniteRangeAndMarksNonFiniteCells) {
    const std::vector<double> cells{2, 4, 6, nan, inf, -inf, 10, 4, 6};
    Heatmap heatmap(1, false);
    heatmap.add("", view(cells, 3, 3));
    EXPECT_EQ(heatmap.nan_cells(), 1);
    EXPECT_EQ(heatmap.infinite_cells(), 2);
    const HeatmapPicture picture(heatmap, "som");
    picture.write((folder / "map.png").string());
    const Png png(folder / "map.png");
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.width(), picture.width());
    EXPECT_EQ(png.height(), picture.height());
    EXPECT_EQ(viridis(0), (Rgb{0x44, 0x01, 0x54}));
    EXPECT_EQ(viridis(0), png.cell(picture, 0, 0, 0));
    EXPECT_EQ(viridis(1), png.cell(picture, 0, 2, 0));
    EXPECT_EQ(viridis(0.5), png.cell(picture, 0, 2, 2));
    EXPECT_EQ(viridis(0.25), png.cell(picture, 0, 2, 1));
    EXPECT_EQ(nan_colour, png.cell(picture, 0, 1, 0));
    EXPECT_EQ(infinite_colour, png.cell(picture, 0, 1, 1));
    EXPECT_EQ(infinite_colour, png.cell(picture, 0, 1, 2));
}

TEST_F(Pictures, PlanesAreSplitAndArgmaxDrawsTheLargestPlaneTiesGrey) {
    // Three 2x2 planes stacked: cell (0,0) plane 2 wins, (0,1) plane 0,
    // (1,0) planes 0 and 1 tie, (1,1) holds a NaN.
    const std::vector<double> cells{1, 9, 5, 2,  //
                                    0, 1, 5, 3,  //
                                    4, 2, 1, nan};
    Heatmap planes(3, false);
    planes.name_planes({"a", "", "c"});
    planes.add("w", view(cells, 6, 2));
    ASSERT_EQ(planes.panels().size(), 3u);
    EXPECT_EQ(planes.panels()[0].name, "w a");
    EXPECT_EQ(planes.panels()[1].name, "w plane 1");
    EXPECT_EQ(planes.panels()[0].cells, (std::vector<double>{1, 9, 5, 2}));
    EXPECT_EQ(planes.panels()[1].rows, 2);

    Heatmap argmax(3, true);
    argmax.add("", view(cells, 6, 2));
    EXPECT_EQ(argmax.tie_cells(), 1);
    EXPECT_EQ(argmax.nan_cells(), 1);
    const HeatmapPicture picture(argmax);
    picture.write((folder / "classes.png").string());
    const Png png(folder / "classes.png");
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(category_colour(2), png.cell(picture, 0, 0, 0));
    EXPECT_EQ(category_colour(0), png.cell(picture, 0, 0, 1));
    EXPECT_EQ(tie_colour, png.cell(picture, 0, 1, 0));
    EXPECT_EQ(nan_colour, png.cell(picture, 0, 1, 1));

    EXPECT_THROW(argmax.add("", view(cells, 4, 3)), std::invalid_argument);
}

TEST_F(Pictures, APictureReplacesTheLastInOneStep) {
    const std::vector<double> small{1, 2}, big(40 * 40, 1.0);
    Heatmap a(1, false), b(1, false);
    a.add("", view(small, 1, 2));
    b.add("", view(big, 40, 40));
    const HeatmapPicture first(a), second(b);
    const fs::path path = folder / "live.png";
    first.write(path.string());
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i) (i % 2 ? first : second).write(path.string());
        writing = false;
    });
    int reads = 0;
    for (; writing; ++reads) {
        const Png png(path);
        ASSERT_TRUE(png.ok()) << "a partial picture was visible";
        ASSERT_TRUE(png.width() == first.width() || png.width() == second.width());
    }
    writer.join();
    EXPECT_GT(reads, 0);
    // Nothing is left beside the picture.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
}

TEST_F(Pictures, ChartsDrawBarsPerSeriesOverTheXValues) {
    Chart chart;
    chart.title = "hist";
    chart.series = {{1, 2, 4}, {4, nan, 2}};
    chart.x = {0.5, 1.5, 2.5};
    write_chart(chart, (folder / "bars.png").string());
    const Png png(folder / "bars.png");
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.width(), chart_width);
    EXPECT_EQ(png.height(), chart_height);
    // Three slots; each holds the two series' bars side by side, from 0 up
    // to 4 at the top of the area.
    const CellBox area = chart_area(chart);
    const double slot = area.width / 3, bar = slot * 0.4, bottom = area.y + area.height - 3;
    EXPECT_EQ(series_colour(0), png.at(area.x + 2 * slot + 0.1 * slot + bar / 2, area.y + 3));
    EXPECT_EQ(series_colour(1), png.at(area.x + 0.1 * slot + 1.5 * bar, area.y + 3));
    EXPECT_EQ(series_colour(0), png.at(area.x + 0.1 * slot + 0.5 * bar, bottom));
    // A NaN draws no bar.
    EXPECT_EQ((Rgb{255, 255, 255}), png.at(area.x + slot + 0.1 * slot + 1.5 * bar, bottom));
}

// The sink in a patch: the first value at once, then one at most every
// EveryTicks ticks, and the last when the run ends.
TEST_F(Pictures, ImageSinkDrawsNewValuesEveryTicksAndWhenTheRunEnds) {
    patch = std::make_unique<Patch>();
    patch->add_block("value", "host.constant", "int-matrix");
    patch->set_parameter("value", "Value", nlohmann::json::parse("[[0, 1], [2, 3]]"));
    patch->add_block("picture", "host.image_sink", "int-matrix");
    patch->set_parameter("picture", "File", (folder / "map.png").string());
    patch->set_parameter("picture", "EveryTicks", 2);
    patch->link("value", "Output", "picture", "Input");
    ASSERT_TRUE(patch->start()) << patch->failure();
    patch->tick();
    EXPECT_TRUE(Png(folder / "map.png").ok());
    fs::remove(folder / "map.png");
    patch->set_parameter("value", "Value", nlohmann::json::parse("[[3, 2], [1, 0]]"));
    patch->tick();
    EXPECT_FALSE(fs::exists(folder / "map.png"));
    patch->set_parameter("value", "Value", nlohmann::json::parse("[[0, 0], [0, 5]]"));
    patch->tick();
    const std::vector<int> cells{0, 0, 0, 5};
    Heatmap expected(1, false);
    expected.add("", {nullptr, cells.data(), 2, 2});
    const HeatmapPicture picture(expected, "picture");
    {
        const Png png(folder / "map.png");
        ASSERT_TRUE(png.ok());
        EXPECT_EQ(png.width(), picture.width());
        const CellBox last = picture.cell(0, 1, 1);
        EXPECT_EQ(viridis(1), png.at(last.x + 1, last.y + 1));
    }
    fs::remove(folder / "map.png");
    patch->stop();
    EXPECT_TRUE(Png(folder / "map.png").ok());
    EXPECT_EQ(patch->node("picture").host_block->progress(), "3 pictures written");
    patch->close();
}

}  // namespace
