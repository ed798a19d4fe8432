// The map engine against a plain flat-array loop doing the same arithmetic
// (best match and one automatic training step), on 40 x 40 maps of 4
// weights and 100 x 100 maps of 16; and a 40 x 40 x 4 KohonenMap in the
// running state through the patch engine and the dlopen'ed plug-in.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "blocks/som/som.h"
#include "host/patch.h"

namespace {

constexpr int long_schedule = 1 << 30;

// The same grid as CSom::CreateGrid builds, in bare arrays.
struct FlatMap {
    int rows, cols, length;
    std::vector<double> centre_x, centre_y, weights;
    double map_radius, time_constant, learning_rate = 0.1, initial_rate = 0.1;
    int remaining, counter = 0;

    FlatMap(int side, int l) : rows(side), cols(side), length(l), remaining(long_schedule) {
        for (int i = 0; i < rows; ++i)
            for (int q = 0; q < cols; ++q) {
                centre_x.push_back(q + 0.5);
                centre_y.push_back(i + 0.5);
                for (int k = 0; k < l; ++k) weights.push_back((std::rand() & 0x7FFF) * 3.0517578125e-5);
            }
        map_radius = 0.5 * std::min(rows, cols);
        time_constant = remaining / std::log(map_radius);
    }

    int best_match(const double* x) const {
        double best = std::numeric_limits<double>::infinity();
        int result = -1;
        const int nodes = rows * cols;
        for (int n = 0; n < nodes; ++n) {
            const double* w = &weights[static_cast<std::size_t>(n) * length];
            double d = 0.0;
            for (int i = 0; i < length; ++i) {
                const double difference = x[i] - w[i];
                d += difference * difference;
            }
            if (best > d) best = d, result = n;
        }
        return result;
    }

    void train(const double* x) {
        --remaining;
        const int winner = best_match(x);
        const double radius = map_radius * std::exp(-static_cast<double>(counter) / time_constant);
        const double r2 = radius * radius;
        const int nodes = rows * cols;
        for (int n = 0; n < nodes; ++n) {
            const double dx = centre_x[static_cast<std::size_t>(winner)] - centre_x[static_cast<std::size_t>(n)];
            const double dy = centre_y[static_cast<std::size_t>(winner)] - centre_y[static_cast<std::size_t>(n)];
            const double d2 = dx * dx + dy * dy;
            if (r2 > d2) {
                const double step = learning_rate * std::exp(-d2 / (2.0 * r2));
                double* w = &weights[static_cast<std::size_t>(n) * length];
                for (int i = 0; i < length; ++i) w[i] = w[i] + (x[i] - w[i]) * step;
            }
        }
        learning_rate = initial_rate * std::exp(-static_cast<double>(counter) / remaining);
        ++counter;
    }
    double first_weight() const { return weights[0]; }
};

std::vector<std::vector<double>> patterns(int length) {
    std::vector<std::vector<double>> all(64, std::vector<double>(static_cast<std::size_t>(length)));
    for (auto& p : all)
        for (double& v : p) v = (std::rand() & 0x7FFF) * 3.0517578125e-5;
    return all;
}

// The engine behind the same two calls.
struct EngineMap {
    Mrv::CSom som;
    int length;
    EngineMap(int side, int l) : length(l) { som.CreateGrid(side, side, side, side, long_schedule, 0, l); }
    int best_match(const double* x) const { return som.FindBestMatch(x); }
    void train(const double* x) { som.TrainStep(x, static_cast<std::size_t>(length), length, false, 0.0, 0.0); }
    double first_weight() const { return som.Weight(std::size_t{0}, 0); }
};

template <class Map>
void FindBestMatch(benchmark::State& state) {
    const int length = static_cast<int>(state.range(1));
    const Map map(static_cast<int>(state.range(0)), length);
    const auto inputs = patterns(length);
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(map.best_match(inputs[i++ % inputs.size()].data()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * state.range(0) * length *
                            static_cast<std::int64_t>(sizeof(double)));
}
BENCHMARK_TEMPLATE(FindBestMatch, EngineMap)->Args({40, 4})->Args({100, 16});
BENCHMARK_TEMPLATE(FindBestMatch, FlatMap)->Args({40, 4})->Args({100, 16});

// The bound for a best-match search: reading the same bytes as fast as one
// core streams them (eight AVX sums in flight), from cache for the two map
// sizes and from memory for 256 MB.
__attribute__((target("avx2"))) double stream_sum(const double* values, std::size_t count) {
    constexpr std::size_t ways = 8;
    __m256d sum[ways];
    for (auto& s : sum) s = _mm256_setzero_pd();
    for (std::size_t i = 0; i + 4 * ways <= count; i += 4 * ways)
        for (std::size_t k = 0; k < ways; ++k) sum[k] = _mm256_add_pd(sum[k], _mm256_loadu_pd(values + i + 4 * k));
    for (std::size_t k = 1; k < ways; ++k) sum[0] = _mm256_add_pd(sum[0], sum[k]);
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum[0]);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

void StreamRead(benchmark::State& state) {
    const std::vector<double> values(static_cast<std::size_t>(state.range(0)) / sizeof(double), 1.0);
    for (auto _ : state) benchmark::DoNotOptimize(stream_sum(values.data(), values.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(StreamRead)->Arg(40 * 40 * 4 * 8)->Arg(100 * 100 * 16 * 8)->Arg(256 << 20);

// Early steps of a long automatic schedule: the neighbourhood covers
// most of the map, the costliest case.
template <class Map>
void TrainStep(benchmark::State& state) {
    const int length = static_cast<int>(state.range(1));
    Map map(static_cast<int>(state.range(0)), length);
    const auto inputs = patterns(length);
    std::size_t i = 0;
    for (auto _ : state) map.train(inputs[i++ % inputs.size()].data());
    benchmark::DoNotOptimize(map.first_weight());
}
BENCHMARK_TEMPLATE(TrainStep, EngineMap)->Args({40, 4})->Args({100, 16});
BENCHMARK_TEMPLATE(TrainStep, FlatMap)->Args({40, 4})->Args({100, 16});

// A constant pattern re-sent every tick into a running 40 x 40 x 4 map.
void KohonenMapRunningTick(benchmark::State& state) {
    mrvhost::Patch patch;
    patch.add_plugin(MRV_PLUGIN);
    patch.add_block("pattern", "host.constant", "double-matrix");
    patch.set_parameter("pattern", "Value", nlohmann::json::array({nlohmann::json::array({0.2, 0.4, 0.6, 0.8})}));
    patch.add_block("som", "kohonenmap");
    patch.set_parameter("som", "KohonenMapParameterStatus", 1);
    patch.link("pattern", "Output", "som", "KohonenMapInput");
    if (!patch.start()) {
        state.SkipWithError("the patch did not start");
        return;
    }
    for (auto _ : state) {
        patch.node("pattern").status().GetExecutionRequest()->Request();
        patch.tick();
    }
    state.counters["ticks/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    patch.stop();
}
BENCHMARK(KohonenMapRunningTick);

}  // namespace

BENCHMARK_MAIN();
