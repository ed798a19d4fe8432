// Feature standardization: the matrix text-file reader against a plain
// strtod loop over the same bytes (MB/s), and the Standardize block through
// the dlopen'ed plug-in (ticks per second).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "blocks/standardize/matrix_text.h"
#include "host/harness.h"

namespace {

constexpr int file_rows = 100000;
constexpr int file_columns = 16;

// A 100,000 x 16 training-set file as another program would export it:
// a size header and signed decimals of varying length.
class NumericFile {
public:
    NumericFile() : path_(std::filesystem::temp_directory_path() / ("mrv-bench-" + std::to_string(::getpid()) + ".txt")) {
        std::mt19937 random(42);
        std::uniform_real_distribution<double> value(-1000.0, 1000.0);
        std::ostringstream text;
        text << file_rows << 'x' << file_columns << '\n';
        for (int i = 0; i < file_rows; ++i) {
            for (int j = 0; j < file_columns; ++j) text << (j ? " " : "") << value(random);
            text << '\n';
        }
        bytes_ = text.str();
        std::ofstream(path_, std::ios::binary) << bytes_;
    }
    ~NumericFile() { std::filesystem::remove(path_); }
    const std::filesystem::path& path() const { return path_; }
    const std::string& bytes() const { return bytes_; }

private:
    std::filesystem::path path_;
    std::string bytes_;
};

const NumericFile& numeric_file() {
    static const NumericFile file;
    return file;
}

void ReadMatrixTextFile(benchmark::State& state) {
    const NumericFile& file = numeric_file();
    for (auto _ : state) {
        std::ifstream stream(file.path());
        std::int32_t rows = 0, columns = 0;
        std::string text;
        Mrv::ReadMatrixText(stream, rows, columns, text);
        if (rows != file_rows || columns != file_columns) state.SkipWithError("wrong size");
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * file.bytes().size());
}
BENCHMARK(ReadMatrixTextFile)->Unit(benchmark::kMillisecond);

// The yardstick: converting every number of the same bytes, already in
// memory, with strtod.
void StrtodLoop(benchmark::State& state) {
    const std::string& bytes = numeric_file().bytes();
    for (auto _ : state) {
        const char* cursor = bytes.c_str() + bytes.find('\n') + 1;
        char* end = nullptr;
        double sum = 0.0;
        for (double value = std::strtod(cursor, &end); end != cursor; value = std::strtod(cursor, &end)) {
            sum += value;
            cursor = end;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes.size());
}
BENCHMARK(StrtodLoop)->Unit(benchmark::kMillisecond);

// One block, a 1 x 64 feature vector against a 1,000-row training set that
// stays the same: one tick is one Execute through the host's wrapper.
void StandardizeTick(benchmark::State& state) {
    constexpr int columns = 64, training_rows = 1000;
    mrvhost::Plugin plugin(MRV_PLUGIN);
    mrvhost::BlockHarness harness(plugin.find_class("Standardize"), "bench");
    harness.init_instance();
    std::mt19937 random(7);
    std::normal_distribution<double> value(5.0, 2.0);
    std::vector<double> features(columns), training(static_cast<std::size_t>(columns) * training_rows);
    for (double& x : features) x = value(random);
    for (double& x : training) x = value(random);
    harness.feed_matrix("InFeatureVector", 1, columns, features);
    harness.feed_matrix("TrainingSet", training_rows, columns, training);
    if (!harness.begin()) state.SkipWithError("Init failed");
    for (auto _ : state) {
        harness.touch("InFeatureVector");
        benchmark::DoNotOptimize(harness.tick());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["ticks/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(StandardizeTick);

}  // namespace
BENCHMARK_MAIN();
