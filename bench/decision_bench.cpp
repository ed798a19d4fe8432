// The decision blocks: scoring N distributions and voting over a window,
// alone and (for the classifier) through the dlopen'ed plug-in.
#include <benchmark/benchmark.h>

#include <vector>

#include "blocks/decision/distribution.h"
#include "blocks/decision/voting.h"
#include "host/harness.h"

namespace {

using namespace Mrv;

// Alternating Gaussian and sigmoid rows, every other one flipped.
std::vector<double> distributions(int rows) {
    std::vector<double> matrix;
    for (int i = 0; i < rows; ++i) matrix.insert(matrix.end(), {double(i % 2), double(i / 2 % 2), i * 0.01, 0.1 + i * 0.001});
    return matrix;
}

void ScoreRows(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const std::vector<double> matrix = distributions(static_cast<int>(rows));
    std::vector<double> scores(rows);
    double x = 0.0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < rows; ++i)
            scores[i] = distribution::membership(matrix.data() + i * distribution::row_width, x);
        x = x < 1.0 ? x + 0.001 : 0.0;
        benchmark::DoNotOptimize(scores.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ScoreRows)->Arg(2)->Arg(100);

// A window of classifier labels 0..9, voted on and refilled.
void VoteOverWindow(benchmark::State& state) {
    voting::vote_buffer buffer;
    const int window = static_cast<int>(state.range(0));
    for (int i = 0; i < window; ++i) buffer.push((i * 7) % 10, window);
    for (auto _ : state) benchmark::DoNotOptimize(voting::vote(buffer.values(), 3));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(VoteOverWindow)->Arg(10)->Arg(1000)->Arg(100000);

// One tick of a classifier with N outputs through the host and the plug-in.
void ClassifierTick(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    mrvhost::Plugin plugin{MRV_PLUGIN};
    mrvhost::BlockHarness harness(plugin.find_class("probabilisticclassifier"), "bench");
    harness.init_instance();
    harness.set_int("raritynumberinputid", count);
    harness.set_matrix("classifiermatrixparameter", count, 4, distributions(count));
    harness.feed_double("classifierinput", 0.5);
    if (!harness.begin()) state.SkipWithError("the classifier did not start");
    for (auto _ : state) {
        harness.touch("classifierinput");
        benchmark::DoNotOptimize(harness.tick());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ClassifierTick)->Arg(2)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
