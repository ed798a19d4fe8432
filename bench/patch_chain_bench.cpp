// A chain of ten VectorRescaler blocks over 1 x 16 vectors, through the
// patch engine and the dlopen'ed plug-in: ticks per second and the cost of
// one block execution.
#include <benchmark/benchmark.h>

#include "host/patch.h"

namespace {

using nlohmann::json;

constexpr int chain_length = 10;
constexpr int width = 16;

std::unique_ptr<mrvhost::Patch> make_chain() {
    auto patch = std::make_unique<mrvhost::Patch>();
    patch->add_plugin(MRV_PLUGIN);
    patch->add_block("vector", "host.constant", "double-matrix");
    patch->add_block("ranges", "host.constant", "double-matrix");
    json vector = json::array({json::array()}), ranges = json::array();
    for (int i = 0; i < width; ++i) {
        vector[0].push_back(i * 0.5);
        ranges.push_back({0.0, 10.0});
    }
    patch->set_parameter("vector", "Value", vector);
    patch->set_parameter("ranges", "Value", ranges);
    std::string previous = "vector";
    for (int i = 0; i < chain_length; ++i) {
        const std::string name = "rescale" + std::to_string(i);
        patch->add_block(name, "VectorRescaler");
        patch->link(previous, previous == "vector" ? "Output" : "OutputVector", name, "InputVector");
        patch->link("ranges", "Output", name, "InputRanges");
        previous = name;
    }
    if (!patch->start()) throw std::runtime_error("the chain did not start");
    return patch;
}

void ChainTick(benchmark::State& state) {
    auto patch = make_chain();
    for (auto _ : state) {
        // A new input every tick, so every block of the chain executes.
        patch->node("vector").status().GetExecutionRequest()->Request();
        patch->tick();
    }
    long executions = 0;
    for (const auto& block : patch->blocks())
        if (block->class_id == "VectorRescaler") executions += block->executions;
    state.counters["ticks/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Nanoseconds per block execution = 1e9 / this rate.
    state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(executions), benchmark::Counter::kIsRate);
    patch->stop();
}
BENCHMARK(ChainTick);

}  // namespace

BENCHMARK_MAIN();
