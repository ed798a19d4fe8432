// Drawing a sink's picture: reading a large matrix into a sampled heatmap,
// and drawing and writing the PNG.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "host/picture.h"

namespace {

std::vector<double> waves(int side) {
    std::vector<double> cells(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = std::sin(0.001 * static_cast<double>(i));
    return cells;
}

// Every cell is read once for the range; only the sampled cells are kept.
void BM_HeatmapOfASquareMatrix(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::vector<double> cells = waves(side);
    for (auto _ : state) {
        mrvhost::Heatmap heatmap(1, false);
        heatmap.add("", {cells.data(), nullptr, side, side});
        benchmark::DoNotOptimize(heatmap.maximum());
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_HeatmapOfASquareMatrix)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_HeatmapPictureWritten(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::vector<double> cells = waves(side);
    mrvhost::Heatmap heatmap(1, false);
    heatmap.add("", {cells.data(), nullptr, side, side});
    const std::string path =
        (std::filesystem::temp_directory_path() / ("mrv-picture-bench-" + std::to_string(::getpid()) + ".png")).string();
    for (auto _ : state) mrvhost::HeatmapPicture(heatmap, "bench").write(path);
    std::filesystem::remove(path);
}
BENCHMARK(BM_HeatmapPictureWritten)->Arg(8)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
