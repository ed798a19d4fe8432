// The sequence algorithms against plain loops doing the same arithmetic,
// and the Stabilizer's whole tick through the dlopen'ed plug-in.
#include <benchmark/benchmark.h>

#include <limits>
#include <random>
#include <vector>

#include "blocks/sequence/histogram.h"
#include "blocks/sequence/stabilizer_window.h"
#include "blocks/sequence/subsample.h"
#include "host/harness.h"

namespace {

using namespace Mrv::sequence;

constexpr std::size_t buffered = 10000;

template <class Distribution>
std::vector<double> drawn(std::size_t count, Distribution distribution, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<double> values(count);
    for (auto& v : values) v = distribution(random);
    return values;
}

// Class labels as a flickering classifier sends them.
std::vector<double> labels(std::size_t count) { return drawn(count, std::uniform_int_distribution<int>(0, 3), 7); }

// Sensor readings, some outside the histogram range.
std::vector<double> readings(std::size_t count) { return drawn(count, std::normal_distribution<double>(0.5, 0.3), 11); }

// ---- Stabilizer -------------------------------------------------------------

void StabilizerWindow(benchmark::State& state) {
    stabilizer_window window(static_cast<std::size_t>(state.range(0)));
    const auto inputs = labels(4096);
    std::size_t k = 0;
    for (auto _ : state) benchmark::DoNotOptimize(window.push(inputs[k++ & 4095]));
}
BENCHMARK(StabilizerWindow)->Arg(10)->Arg(1000);

// The same update written out over plain arrays.
void StabilizerPlainLoop(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<double> value(n, 0.0), frequency(n, 0.0);
    std::vector<int> count(n, 0);
    const auto inputs = labels(4096);
    std::size_t k = 0;
    for (auto _ : state) {
        const double x = inputs[k++ & 4095], leaving = value[n - 1], length = static_cast<double>(n);
        int c = 1;
        double f = (1.0 / length) * 100.0;
        for (std::size_t i = n - 1; i-- > 0;) {
            double v = value[i];
            int ci = count[i];
            double fi = frequency[i];
            if (v == x) fi = (++ci / length) * 100.0, c = ci, f = fi;
            if (v == leaving) fi = (--ci / length) * 100.0;
            if (v == x && v == leaving) c = ci, f = (c / length) * 100.0;
            value[i + 1] = v, count[i + 1] = ci, frequency[i + 1] = fi;
        }
        value[0] = x, count[0] = c, frequency[0] = f;
        double best = 0.0;
        std::ptrdiff_t index = -1;
        for (std::size_t i = 0; i < n; ++i)
            if (frequency[i] > best) best = frequency[i], index = static_cast<std::ptrdiff_t>(i);
        benchmark::DoNotOptimize(best);
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(StabilizerPlainLoop)->Arg(10)->Arg(1000);

// One input through the host's Execute call: wrapper, parameter reads,
// the window and the five stamped outputs.
void StabilizerBlockTick(benchmark::State& state) {
    mrvhost::Plugin plugin(MRV_PLUGIN);
    mrvhost::BlockHarness harness(plugin.find_class("Stabilizer"), "bench");
    harness.init_instance();
    harness.set_int("NValues", static_cast<int>(state.range(0)));
    auto* input = Mrv::interface_cast<Mrv::IDouble>(harness.source("InputValue"));
    if (!harness.begin()) throw std::runtime_error("the Stabilizer did not start");
    const auto inputs = labels(4096);
    Mrv::IBlock* block = harness.block();
    std::size_t k = 0;
    Mrv::TimeStamp time = 0;
    for (auto _ : state) {
        input->SetValue(inputs[k++ & 4095]);
        input->SetTimeStamp(++time);
        benchmark::DoNotOptimize(block->ExecuteBlock());
    }
}
BENCHMARK(StabilizerBlockTick)->Arg(10)->Arg(1000);

// ---- HistGenerator ------------------------------------------------------------

void HistogramCount(benchmark::State& state) {
    const auto values = readings(buffered);
    const std::size_t histograms = static_cast<std::size_t>(state.range(0)), bins = 25;
    std::vector<double> cells(histograms * bins);
    std::vector<double*> rows;
    for (std::size_t h = 0; h < histograms; ++h) rows.push_back(cells.data() + h * bins);
    for (auto _ : state) {
        count(values.data(), values.size(), 0.0, 1.0, bins, rows.data(), histograms);
        benchmark::DoNotOptimize(cells.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffered));
}
BENCHMARK(HistogramCount)->Arg(1)->Arg(4);

void HistogramPlainLoop(benchmark::State& state) {
    const auto values = readings(buffered);
    const std::size_t histograms = static_cast<std::size_t>(state.range(0)), bins = 25;
    std::vector<double> cells(histograms * bins);
    const double lo = 0.0, hi = 1.0, n = static_cast<double>(buffered);
    for (auto _ : state) {
        std::fill(cells.begin(), cells.end(), 0.0);
        for (std::size_t k = 0; k < buffered; ++k) {
            const double v = values[k];
            std::size_t bin;
            if (v <= lo) bin = 0;
            else if (v >= hi) bin = bins - 1;
            else if (v < hi) bin = static_cast<std::size_t>((static_cast<double>(bins) * (v - lo)) / (hi - lo));
            else continue;
            const auto h = static_cast<std::size_t>(static_cast<double>(histograms) * (static_cast<double>(k) / n));
            cells[h * bins + bin] += 1.0;
        }
        benchmark::DoNotOptimize(cells.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffered));
}
BENCHMARK(HistogramPlainLoop)->Arg(1)->Arg(4);

// ---- SubSampler -----------------------------------------------------------------

void Subsample(benchmark::State& state) {
    const auto values = readings(buffered);
    std::vector<double> out(25);
    const int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        subsample(values.data(), values.size(), out.size(), mode, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffered));
}
BENCHMARK(Subsample)->DenseRange(sample_mean, sample_max);

void SubsamplePlainLoop(benchmark::State& state) {
    const auto values = readings(buffered);
    std::vector<double> out(25);
    const int mode = static_cast<int>(state.range(0));
    const std::size_t samples = out.size(), length = buffered / samples;
    const double spread = static_cast<double>(buffered - samples * length) / static_cast<double>(samples);
    for (auto _ : state) {
        for (std::size_t i = 0; i < samples; ++i) {
            const double* segment =
                values.data() + i * length + static_cast<std::size_t>(static_cast<double>(i) * spread);
            double a = 0.0, b = 0.0;
            if (mode == sample_min) a = std::numeric_limits<double>::infinity();
            if (mode == sample_max) a = -std::numeric_limits<double>::infinity();
            for (std::size_t k = 0; k < length; ++k) {
                const double v = segment[k];
                if (mode == sample_mean) a += v;
                else if (mode == sample_variance) a += v, b += v * v;
                else if (mode == sample_min) a = v < a ? v : a;
                else a = v > a ? v : a;
            }
            const double n = static_cast<double>(length);
            out[i] = mode == sample_mean ? a / n : mode == sample_variance ? b / n - (a / n) * (a / n) : a;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffered));
}
BENCHMARK(SubsamplePlainLoop)->DenseRange(sample_mean, sample_max);

}  // namespace

BENCHMARK_MAIN();
