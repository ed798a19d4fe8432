// SVMTrain from the first row to the model file on disk, against svm-scale
// and svm-train run as processes on the same rows and parameters: the
// digits table (1797 x 64) and ten copies of it, C-SVC with an RBF kernel,
// scaling onto [0, 1]: the pixel counts are non-negative and sparse, so
// both sides then train on the same scaled problem (the block scales the
// non-zero values only; svm-scale maps a zero to the lower bound). SVMTrain runs in the block harness through the
// dlopen'ed plug-in; the time is the block's own: the tick that takes the
// rows and queues the run, the run on the worker thread (scale, train,
// save), and the tick that reports TrainedFlag 1.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "blocks/svm/sparse.h"
#include "host/harness.h"

namespace {

namespace fs = std::filesystem;

// The rows libsvm's tools and the block both train with; the explicit
// gamma is the block's own rule for 64 attributes.
const char* const train_options = "-s 0 -t 2 -d 3 -g 0.015625 -r 0 -c 1 -n 0.5 -p 0.1 -m 40 -e 0.001 -h 1 -b 0";

struct table {
    int rows = 0, columns = 0;
    std::vector<double> values;  // label first, row-major
};

// The digits (label last in the file) with the label moved first, `copies` times.
const table& digits(int copies) {
    static std::vector<table> made(11);
    table& t = made[copies];
    if (t.rows > 0) return t;
    std::ifstream in(MRV_EXAMPLES "/data/digits.csv");
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<double> fields;
        std::stringstream text(line);
        for (std::string field; std::getline(text, field, ',');) fields.push_back(std::stod(field));
        fields.insert(fields.begin(), fields.back());
        fields.pop_back();
        rows.push_back(std::move(fields));
    }
    if (rows.empty()) throw std::runtime_error("no digits table");
    t.columns = static_cast<int>(rows[0].size());
    for (int c = 0; c < copies; ++c)
        for (const auto& row : rows) t.values.insert(t.values.end(), row.begin(), row.end());
    t.rows = static_cast<int>(t.values.size()) / t.columns;
    return t;
}

fs::path work_directory() {
    static const fs::path dir = fs::temp_directory_path() / ("svm-train-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

void SVMTrainBlock(benchmark::State& state) {
    const table& rows = digits(static_cast<int>(state.range(0)));
    mrvhost::Plugin plugin(MRV_PLUGIN);
    const std::string model = (work_directory() / "block.model").string();
    for (auto _ : state) {
        state.PauseTiming();
        auto harness = std::make_unique<mrvhost::BlockHarness>(plugin.find_class("SVMTrain"), "train");
        harness->init_instance();
        harness->set_string("ModelFileName", model);
        harness->set_bool("EnableLog", false);
        harness->set_int("TrainingMode", 1);
        harness->set_int("MaxSize", rows.rows);
        harness->set_double("LowerBound", 0.0);
        harness->feed_matrix("InputMatrix", rows.rows, rows.columns, rows.values);
        if (!harness->begin()) throw std::runtime_error("SVMTrain did not start");
        auto& request = harness->status().execution_request();
        const long before = request.count();
        state.ResumeTiming();

        harness->tick();  // takes the rows; MaxSize reached: a run is queued
        while (request.count() < before + 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
        harness->tick();

        state.PauseTiming();
        if (harness->output_int("TrainedFlag") != 1) throw std::runtime_error("no model");
        harness.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows.rows;
}
BENCHMARK(SVMTrainBlock)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void SvmScaleAndSvmTrain(benchmark::State& state) {
    const table& rows = digits(static_cast<int>(state.range(0)));
    const fs::path dir = work_directory();
    {
        std::string text;
        for (int r = 0; r < rows.rows; ++r) {
            Mrv::sparse::append_data_line(text, &rows.values[static_cast<std::size_t>(r) * rows.columns], rows.columns);
        }
        std::ofstream(dir / "rows.libsvm") << text;
    }
    const std::string command = "svm-scale -l 0 -u 1 " + (dir / "rows.libsvm").string() + " > " +
                                (dir / "scaled.libsvm").string() + " && svm-train -q " + train_options + " " +
                                (dir / "scaled.libsvm").string() + " " + (dir / "tools.model").string();
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) throw std::runtime_error("svm-scale or svm-train failed");
    state.counters["rows"] = rows.rows;
}
BENCHMARK(SvmScaleAndSvmTrain)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(work_directory());
    return 0;
}
