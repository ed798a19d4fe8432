// SVM Predict's own cost per row against a bare svm_predict loop over the
// same rows and model: the digits table scaled onto [-1, 1], C-SVC with the
// RBF kernel, with and without probabilities. The script
// svm_predict_bench.sh beside this compares whole processes with svm-predict.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

#include <libsvm/svm.h>

#include "digits_model.h"
#include "host/harness.h"

namespace {

constexpr int attributes = 64;

// Rows of pixels scaled onto [-1, 1] per attribute, and their digits.
struct digits {
    std::vector<double> rows;
    std::vector<double> labels;
    int count = 0;
};

const digits& table() {
    static const digits loaded = [] {
        digits d;
        std::ifstream in(MRV_EXAMPLES "/data/digits.csv");
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string field;
            for (int j = 0; j <= attributes && std::getline(fields, field, ','); ++j)
                (j < attributes ? d.rows : d.labels).push_back(std::stod(field));
            ++d.count;
        }
        for (int j = 0; j < attributes; ++j) {
            double low = 1e300, high = -1e300;
            for (int r = 0; r < d.count; ++r) {
                low = std::min(low, d.rows[r * attributes + j]);
                high = std::max(high, d.rows[r * attributes + j]);
            }
            for (int r = 0; r < d.count; ++r) {
                double& v = d.rows[r * attributes + j];
                v = high == low ? 0.0 : -1.0 + 2.0 * (v - low) / (high - low);
            }
        }
        return d;
    }();
    return loaded;
}

std::vector<svm_node> nodes_of(const double* row) {
    std::vector<svm_node> nodes;
    for (int j = 0; j < attributes; ++j)
        if (row[j] != 0.0) nodes.push_back({j + 1, row[j]});
    nodes.push_back({-1, 0.0});
    return nodes;
}

// Removed when the process ends.
struct temporary_file {
    std::string name;
    ~temporary_file() { std::remove(name.c_str()); }
};

// A model with probability estimates, trained once per process.
const std::string& model_file() {
    static const temporary_file file{[] {
        const digits& d = table();
        std::vector<std::vector<svm_node>> samples;
        for (int r = 0; r < d.count; ++r) samples.push_back(nodes_of(&d.rows[r * attributes]));
        return bench::save_digits_model(std::move(samples), d.labels, attributes, true,
                                        "/tmp/mrv-svm-predict-bench-" + std::to_string(::getpid()) + ".model");
    }()};
    return file.name;
}

void LibsvmPredict(benchmark::State& state) {
    const bool probabilities = state.range(0) != 0;
    const digits& d = table();
    svm_model* model = svm_load_model(model_file().c_str());
    std::vector<double> estimates(10);
    for (auto _ : state) {
        for (int r = 0; r < d.count; ++r) {
            const auto nodes = nodes_of(&d.rows[r * attributes]);
            benchmark::DoNotOptimize(probabilities ? svm_predict_probability(model, nodes.data(), estimates.data())
                                                   : svm_predict(model, nodes.data()));
        }
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * d.count,
                                                  benchmark::Counter::kIsRate);
    svm_free_and_destroy_model(&model);
}
BENCHMARK(LibsvmPredict)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BlockPredict(benchmark::State& state) {
    const digits& d = table();
    mrvhost::Plugin plugin(MRV_PLUGIN);
    mrvhost::BlockHarness harness(plugin.find_class("SVM"), "predict");
    harness.init_instance();
    harness.set_string("ModelFileName", model_file());
    harness.set_bool("Probabilities", state.range(0) != 0);
    harness.feed_matrix("InputMatrix", d.count, attributes, d.rows);
    if (!harness.begin()) state.SkipWithError("SVM Predict did not start");
    for (auto _ : state) {
        harness.touch("InputMatrix");
        harness.tick();
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * d.count,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BlockPredict)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
