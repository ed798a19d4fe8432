// The SVM blocks through the dlopen'ed plug-in: VectorRescaler's ranges and
// bounds, LibSVMSave's file and modes, SVM Predict on models libsvm itself
// trains and writes, SVMTrain's runs on the worker thread with their model
// and log files (the mapping, line format and training set's numbers are
// the algorithm tests').
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <libsvm/svm.h>

#include "plugin/block_test.h"

namespace {

namespace fs = std::filesystem;
using mrvhost::BlockHarness;

// Proposes each of the two bounds equal to the other: both refused, each
// with its message, the old values kept.
void expect_bounds_kept(BlockHarness& h, const char* low, const char* high, const std::string& block) {
    EXPECT_FALSE(h.set_double(low, 1.0));
    EXPECT_FALSE(h.set_double(high, -1.0));
    EXPECT_EQ(h.parameter_double(low), -1.0);
    EXPECT_EQ(h.parameter_double(high), 1.0);
    const std::string from = block + "::OnChangingParameter -- The ";
    EXPECT_EQ(h.messages(Mrv::LevelError),
              (std::vector<std::string>{
                  from + "lower bound is greater than the upper bound. The old values will be kept.\n",
                  from + "upper bound is lower than the lower bound. The old values will be kept.\n"}));
}

class VectorRescaler : public BlockTest {
protected:
    VectorRescaler() : BlockTest("VectorRescaler") {}

    // Feeds a vector and ranges, runs Init..Start; Init's result.
    bool prepare(int rows, int columns, const std::vector<double>& input, int range_rows, int range_columns,
                 const std::vector<double>& ranges) {
        make("rescaler");
        harness->feed_matrix("InputVector", rows, columns, input);
        harness->feed_matrix("InputRanges", range_rows, range_columns, ranges);
        return harness->begin();
    }
    std::vector<double> rescaled() {
        harness->touch("InputVector");
        EXPECT_TRUE(harness->tick());
        return harness->output_values("OutputVector");
    }
};

TEST_F(VectorRescaler, EachElementHasItsOwnRange) {
    ASSERT_TRUE(prepare(3, 1, {2, -1, 30}, 3, 2, {0, 4, -3, 1, 0, 10}));
    EXPECT_EQ(rescaled(), (std::vector<double>{0, 0, 5}));
    EXPECT_EQ(harness->output_matrix("OutputVector")->GetHeight(), 3);
    EXPECT_EQ(harness->output_time("OutputVector"), harness->clock().GetCurrentTime());
    EXPECT_TRUE(harness->messages().empty());
    // Bounds changed while running apply at the next tick.
    harness->set_running(true);
    ASSERT_TRUE(harness->set_double("OutputLowBound", 0.0));
    EXPECT_EQ(rescaled(), (std::vector<double>{0.5, 0.5, 3}));
}

TEST_F(VectorRescaler, InputsOfTheWrongShapeAreRefused) {
    const struct {
        int rows, columns, range_rows, range_columns;
        std::string message;
    } cases[] = {
        {2, 3, 6, 2, "CVectorRescaler::Init -- A vector should be provided as input, not a mtrix.\n"},
        {1, 3, 3, 3, "CVectorRescaler::Init -- Ranges should be provided as a (3x2) matrix.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(prepare(c.rows, c.columns, std::vector<double>(c.rows * c.columns, 1.0), c.range_rows,
                             c.range_columns, std::vector<double>(c.range_rows * c.range_columns, 1.0)));
        EXPECT_EQ(harness->messages(Mrv::LevelError),
                  (std::vector<std::string>{c.message, "Block rescaler: error in method Init\n"}));
    }
    // Ranges that shrink while running are not read past their end.
    ASSERT_TRUE(prepare(1, 3, {0, 5, 10}, 3, 2, {0, 10, 0, 10, 0, 10}));
    harness->feed_matrix("InputRanges", 1, 2, {0, 10});
    rescaled();
    EXPECT_EQ(harness->messages(Mrv::LevelWarning).size(), 1u);
}

// Checked against each other before a run, after one and after a failed
// Init; the next run uses the new one.
TEST_F(VectorRescaler, BoundsStayOrdered) {
    EXPECT_FALSE(prepare(2, 2, {1, 2, 3, 4}, 4, 2, std::vector<double>(8, 0.0)));
    harness->done();
    harness->clear_notifications();
    expect_bounds_kept(*harness, "OutputLowBound", "OutputHighBound", "CVectorRescaler");

    ASSERT_TRUE(prepare(1, 2, {0, 10}, 2, 2, {0, 10, 0, 10}));
    ASSERT_TRUE(harness->tick());
    harness->stop();
    harness->done();
    EXPECT_FALSE(harness->set_double("OutputLowBound", 1.0));
    EXPECT_TRUE(harness->set_double("OutputHighBound", 3.0));
    ASSERT_TRUE(harness->begin());
    EXPECT_EQ(rescaled(), (std::vector<double>{-1, 3}));
}


class LibSVMSave : public FolderBlockTest {
protected:
    LibSVMSave() : FolderBlockTest("LibSVMSave") {}

    // A running block writing `file` in `mode` (0 Append, 1 Overwrite).
    void running(const std::string& file, int mode, int rows, int columns, const std::vector<double>& values) {
        make("export");
        ASSERT_TRUE(harness->set_string("FileName", (folder / file).string()));
        ASSERT_TRUE(harness->set_int("SaveMode", mode));
        harness->feed_matrix("InputMatrix", rows, columns, values);
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
    }
    void tick_with(int rows, int columns, const std::vector<double>& values) {
        harness->feed_matrix("InputMatrix", rows, columns, values);
        ASSERT_TRUE(harness->tick());
    }
};

TEST_F(LibSVMSave, AppendModeAddsEveryTicksRowsInLibsvmFormat) {
    std::ofstream(folder / "data.txt") << "3 1:1 \n";  // earlier content stays
    running("data.txt", 0, 2, 3, {1, 0, 4, -1, 2, 0});
    ASSERT_TRUE(harness->tick());
    // Flushed at once: a killed host keeps the tick.
    EXPECT_EQ(read_file(folder / "data.txt"), "3 1:1 \n1 2:4 \n-1 1:2 \n");
    tick_with(2, 3, {0.5, 0, 0, 2, 3, 0});
    const std::string written = read_file(folder / "data.txt");
    EXPECT_EQ(written, "3 1:1 \n1 2:4 \n-1 1:2 \n0.5 \n2 1:3 \n");
    EXPECT_TRUE(harness->messages().empty());
    // Shapes are those of Init: a reshaped input is reported, not written.
    tick_with(3, 3, std::vector<double>(9, 1.0));
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{
                  "CLibSVMSave::Execute -- The input shape changed after Init; the matrix is not written.\n"});
    EXPECT_EQ(read_file(folder / "data.txt"), written);
}

// Overwrite empties the file at Init and keeps only the last tick; a mode
// changed while running reopens the file ("w" empties it).
TEST_F(LibSVMSave, OverwriteModeKeepsOnlyTheLastTick) {
    std::ofstream(folder / "data.txt") << "old content that goes\n";
    running("data.txt", 1, 2, 2, {1, 10, 2, 20});
    EXPECT_EQ(read_file(folder / "data.txt"), "");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(read_file(folder / "data.txt"), "1 1:10 \n2 1:20 \n");
    tick_with(2, 2, {3, 0, 4, 0});  // shorter than the tick before
    EXPECT_EQ(read_file(folder / "data.txt"), "3 \n4 \n");
    ASSERT_TRUE(harness->set_int("SaveMode", 0));
    tick_with(2, 2, {5, 7, 6, 0});
    EXPECT_EQ(read_file(folder / "data.txt"), "3 \n4 \n5 1:7 \n6 \n");
    ASSERT_TRUE(harness->set_int("SaveMode", 1));
    EXPECT_EQ(read_file(folder / "data.txt"), "");
    EXPECT_TRUE(harness->messages().empty());
}

// What is not a regular file is never opened: no hang on a FIFO without a
// reader.
TEST_F(LibSVMSave, UnopenableFileAtInitNamesTheFile) {
    const std::string missing = path("missing/data.txt"), fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {missing, {}}, {fifo, {"CLibSVMSave::Init -- " + fifo + " cannot be written: it is a FIFO.\n"}}};
    for (auto [file, reasons] : cases) {
        make("export");
        ASSERT_TRUE(harness->set_string("FileName", file));
        harness->feed_matrix("InputMatrix", 1, 2, {1, 2});
        EXPECT_FALSE(harness->init());
        reasons.insert(reasons.begin(), "CLibSVMSave::Init -- Cannot open output file " + file + ".\n");
        reasons.push_back("Block export: error in method Init\n");
        EXPECT_EQ(harness->messages(Mrv::LevelError), reasons);
    }
}

// A new name that cannot be opened keeps the old file and name; once the
// old file cannot be opened again either, writing stops until a name opens.
TEST_F(LibSVMSave, NewFileThatCannotBeOpenedKeepsTheOldFileOrStopsWriting) {
    fs::create_directories(folder / "gone");
    running("gone/data.txt", 0, 1, 2, {1, 5});
    const std::string old_name = path("gone/data.txt"), missing = path("missing/other.txt");
    harness->clear_notifications();
    EXPECT_TRUE(harness->set_string("FileName", missing));
    EXPECT_EQ(parameter_string("FileName"), old_name);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CLibSVMSave::OnChangedParameter -- Cannot open output file " + missing +
                                       ". The old file will be kept.\n"});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(read_file(old_name), "1 1:5 \n");

    fs::remove_all(folder / "gone");
    harness->clear_notifications();
    const std::string stopped = "CLibSVMSave::OnChangedParameter -- Cannot open output file. File writing will be stopped.\n";
    EXPECT_TRUE(harness->set_string("FileName", missing));
    EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{stopped});
    ASSERT_TRUE(harness->tick());  // nothing to write into, nothing reported
    EXPECT_EQ(harness->messages(Mrv::LevelError).size(), 1u);
    harness->clear_notifications();
    EXPECT_TRUE(harness->set_int("SaveMode", 1));
    EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{stopped});
    ASSERT_TRUE(harness->set_string("FileName", path("back.txt")));
    tick_with(1, 2, {2, 6});
    EXPECT_EQ(read_file(folder / "back.txt"), "2 1:6 \n");
}


// Points on a line, labelled by segment: `classes` classes of 10 points.
struct model_recipe {
    int svm_type = C_SVC;
    int classes = 3;
    bool probability = true;
};

// Trained by libsvm's own svm-train, in a process of its own: this process
// leaves libsvm's output stream to the catalog.
void write_model(const fs::path& path, const model_recipe& recipe) {
    const fs::path data = path.string() + ".data";
    {
        std::ofstream rows(data);
        for (int i = 0; i < 10 * recipe.classes; ++i) rows << i / 10 << " 1:" << i / 10.0 << " 2:" << 1.0 - i / 20.0 << "\n";
    }
    const std::string command = std::string(SVM_TRAIN) + " -q -s " + std::to_string(recipe.svm_type) +
                                " -t 2 -g 1 -c 10 -b " + (recipe.probability ? "1 " : "0 ") + data.string() + " " +
                                path.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What libsvm answers for a row, as the reference.
struct reference {
    explicit reference(const fs::path& path) : model(svm_load_model(path.c_str())) {}
    ~reference() { svm_free_and_destroy_model(&model); }
    std::vector<svm_node> nodes(const std::vector<double>& row) {
        std::vector<svm_node> made;
        for (std::size_t j = 0; j < row.size(); ++j)
            if (row[j] != 0.0) made.push_back({static_cast<int>(j) + 1, row[j]});
        made.push_back({-1, 0});
        return made;
    }
    std::vector<double> probabilities(const std::vector<double>& row) {
        std::vector<double> estimates(static_cast<std::size_t>(svm_get_nr_class(model)));
        svm_predict_probability(model, nodes(row).data(), estimates.data());
        return estimates;
    }
    svm_model* model;
};

class SVMPredict : public FolderBlockTest {
protected:
    SVMPredict() : FolderBlockTest("SVM") {}

    fs::path model(const std::string& name, const model_recipe& recipe = {}) {
        write_model(folder / name, recipe);
        return folder / name;
    }
    // Init..Start on `file` with the rows given; Init's result.
    bool prepare(const fs::path& file, bool probabilities) {
        make("predict");
        EXPECT_TRUE(harness->set_string("ModelFileName", file.string()));
        EXPECT_TRUE(harness->set_bool("Probabilities", probabilities));
        harness->feed_matrix("InputMatrix", 4, 2, rows);
        const bool started = harness->begin();
        harness->set_running(true);
        return started;
    }

    const std::vector<double> rows{0.15, 0.9, 1.5, 0.3, 0, 0, 2.8, 0.2};  // 4 x 2, one row all zero
};

// ProbVector exists exactly while Probabilities is true, in a saved instance
// too; it and every row's label are what libsvm gives.
TEST_F(SVMPredict, PredictsEveryRowAndItsProbabilitiesAsLibsvmDoes) {
    const fs::path file = model("three.txt");
    BlockHarness& h = make("predict");
    ASSERT_TRUE(h.set_string("ModelFileName", file.string()));
    ASSERT_TRUE(h.set_bool("Probabilities", true));
    EXPECT_EQ(signature_changes(), 1);
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    ASSERT_TRUE(h.set_bool("Probabilities", false));
    EXPECT_EQ(h.signature().find_output("ProbVector"), nullptr);
    restore(*saved, nullptr, "predict");
    harness->feed_matrix("InputMatrix", 4, 2, rows);
    ASSERT_TRUE(harness->begin());
    ASSERT_TRUE(harness->tick());
    reference libsvm(file);
    const auto labels = harness->output_values("OutputVector");
    const auto probabilities = harness->output_values("ProbVector");
    ASSERT_EQ(labels.size(), 4u);
    ASSERT_EQ(probabilities.size(), 12u);
    EXPECT_EQ(harness->output_matrix("ProbVector")->GetWidth(), 3);
    for (std::size_t r = 0; r < 4; ++r) {
        // The likeliest class, whose label is its index: libsvm keeps 0, 1, 2 in that order.
        const auto expected = libsvm.probabilities({rows[2 * r], rows[2 * r + 1]});
        EXPECT_EQ(std::vector<double>(&probabilities[3 * r], &probabilities[3 * r + 3]), expected) << r;
        EXPECT_EQ(labels[r], std::max_element(expected.begin(), expected.end()) - expected.begin()) << r;
    }
    for (const char* id : {"OutputVector", "ProbVector"})
        EXPECT_EQ(harness->output_time(id), harness->clock().GetCurrentTime()) << id;
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(SVMPredict, ModelsThatCannotGiveProbabilitiesStillPredict) {
    ASSERT_TRUE(prepare(model("plain.txt", {C_SVC, 3, false}), true));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::Init -- Cannot return probability values. The loaded model does not "
                                       "contain probability information.\n"});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->messages(Mrv::LevelError).size(), 1u);
    EXPECT_EQ(harness->output_values("OutputVector").size(), 4u);
    EXPECT_EQ(harness->output_matrix("ProbVector")->GetWidth(), 1);
    EXPECT_EQ(harness->output_time("ProbVector"), 0u);  // never written
}

// A name that is no regular file is refused with the reason (what makes a
// model file unusable is the algorithm tests').
TEST_F(SVMPredict, MissingOrBrokenModelFileFailsInitWithItsName) {
    const std::string missing = path("missing.txt"), fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {missing, {}}, {fifo, {"CSVMBlock::Init -- The model file " + fifo + " cannot be used: it is a FIFO.\n"}}};
    for (auto [file, reasons] : cases) {
        EXPECT_FALSE(prepare(file, false));
        reasons.insert(reasons.begin(), "CSVMBlock::Init -- Cannot open model file: " + file + ".\n");
        reasons.push_back("Block predict: error in method Init\n");
        EXPECT_EQ(harness->messages(Mrv::LevelError), reasons);
    }
    // A model libsvm would read past its arrays is never handed to it.
    const fs::path cut = model("cut.txt");
    fs::resize_file(cut, fs::file_size(cut) - 40);
    EXPECT_FALSE(prepare(cut, false));
    EXPECT_EQ(harness->messages(Mrv::LevelError).at(1).rfind(
                  "CSVMBlock::Init -- The model file " + cut.string() + " cannot be used: the file holds", 0),
              0u);
}

// A refresh that cannot read the new file keeps the old model; one that can
// replaces it, but writes no probabilities of another class count.
TEST_F(SVMPredict, RefreshReplacesTheModelOrKeepsTheOldOne) {
    ASSERT_TRUE(prepare(model("two.txt", {C_SVC, 2, true}), true));
    ASSERT_TRUE(harness->tick());
    const auto before = harness->output_values("OutputVector");

    const std::string misspelt = path("frist.txt");
    ASSERT_TRUE(harness->set_string("ModelFileName", misspelt));
    harness->clear_notifications();
    ASSERT_TRUE(harness->fire("RefreshModel"));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- Cannot open model file: " + misspelt +
                                       ". The old model will be kept.\n"});
    harness->touch("InputMatrix");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), before);
    const auto stamped = harness->output_time("ProbVector");

    ASSERT_TRUE(harness->set_string("ModelFileName", model("three.txt").string()));
    harness->clear_notifications();
    ASSERT_TRUE(harness->fire("RefreshModel"));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- The new model gives 3 class probabilities "
                                       "where the output has 2 columns. Probabilities will not be written until the "
                                       "next Init.\n"});
    EXPECT_EQ(harness->messages(Mrv::LevelMessage),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- SVM model updated.\n"});
    harness->touch("InputMatrix");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector")[3], 2.0);  // a class only the new model knows
    EXPECT_EQ(harness->output_time("ProbVector"), stamped);
}

int count_of(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Three rows (label first): attribute 2 is always zero.
const std::vector<double> three_rows = {1, 1, 0, 2, -1, -1, 0, -2, 1, 2, 0, 3};
const std::vector<double> three_ranges = {-1, 2, 0, 0, -2, 3};

class SVMTrain : public FolderBlockTest {
protected:
    SVMTrain() : FolderBlockTest("SVMTrain") {}

    BlockHarness& make() {
        BlockTest::make("train");
        harness->set_string("ModelFileName", model().string());
        harness->set_string("LogFileName", log().string());
        return *harness;
    }
    bool prepare(int rows, int columns, const std::vector<double>& values) {
        if (!harness) make();
        harness->feed_matrix("InputMatrix", rows, columns, values);
        if (!harness->begin()) return false;
        harness->set_running(true);  // TrainModel is pressed while the patch runs
        return true;
    }
    // Runs `queue` (which queues `runs` runs) and waits until they ended: a
    // run asks the host for an execution when it is queued and again when
    // it has ended.
    template <class Queue>
    bool run_and_wait(Queue&& queue, int runs = 1) {
        const long before = harness->status().execution_request().count();
        if (!queue()) return false;
        for (int i = 0; i < 6000; ++i) {
            if (harness->status().execution_request().count() >= before + 2 * runs) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool train() {
        return run_and_wait([&] { return harness->fire("TrainModel"); });
    }
    bool tick_and_train() {
        return run_and_wait([&] { return harness->tick(); });
    }
    fs::path model() const { return folder / "model.txt"; }
    fs::path log() const { return folder / "log.txt"; }
};

TEST_F(SVMTrain, DesignEditsShowParametersAndKeepTheBoundsOrdered) {
    BlockHarness& h = make();
    expect_bounds_kept(h, "LowerBound", "UpperBound", "CSVMTrain");
    EXPECT_TRUE(h.set_double("UpperBound", 3.0));
    EXPECT_TRUE(h.set_double("LowerBound", 2.0));
    // After each edit, in turn: the parameters shown and hidden.
    const struct {
        const char* id;
        int value;
        std::vector<const char*> shown, hidden;
    } edits[] = {
        {"SVMType", 3, {"C", "p"}, {"Nu"}},  // Epsilon-SVR
        {"SVMType", 2, {"Nu"}, {"C", "p"}},  // One-class
        {"KernelType", 0, {}, {"Degree", "Gamma", "Coeff0"}},
        {"KernelType", 3, {"Gamma", "Coeff0"}, {"Degree"}},
        {"KernelType", 1, {"Degree"}, {}},
        {"EnableMaxSize", 0, {}, {"MaxSize"}},
        {"EnableLog", 0, {}, {"LogFileName"}},
        {"ScaleValues", 0, {}, {"LowerBound", "UpperBound"}},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(std::string(e.id) + " " + std::to_string(e.value));
        ASSERT_TRUE(std::string(h.parameter(e.id).GetDatatypeClassId()) == "bool" ? h.set_bool(e.id, e.value)
                                                                                   : h.set_int(e.id, e.value));
        for (const char* id : e.shown) EXPECT_TRUE(h.parameter(id).GetAttribute(1)) << id;
        for (const char* id : e.hidden) EXPECT_FALSE(h.parameter(id).GetAttribute(1)) << id;
    }
}

TEST_F(SVMTrain, RangesOutputGoesAndComesBackAfterTrainedFlag) {
    ASSERT_TRUE(prepare(3, 4, three_rows));
    harness->set_running(false);  // scaling is switched between runs
    ASSERT_TRUE(harness->set_bool("ScaleValues", false));
    EXPECT_EQ(output_ids(), std::vector<std::string>{"TrainedFlag"});
    ASSERT_TRUE(harness->set_bool("ScaleValues", true));
    harness->set_running(true);
    EXPECT_EQ(output_ids(), (std::vector<std::string>{"TrainedFlag", "Ranges"}));
    EXPECT_EQ(signature_changes(), 2);
    // While running, the block writes the re-declared outputs; the rows of
    // an input reshaped after Init are not taken.
    ASSERT_TRUE(harness->tick());
    harness->feed_matrix("InputMatrix", 1, 4, {1, 5, 5, 5});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{
                  "CSVMTrain::Execute -- The input shape changed after Init; the rows of this tick are not added.\n"});
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_EQ(harness->output_values("Ranges"), three_ranges);
}

// One-shot: MaxSize reached starts a run, TrainedFlag reads 1 for one tick
// only, that tick's rows are not kept and the next rows start the set and
// its ranges afresh.
TEST_F(SVMTrain, OneShotRunReportsForExactlyOneTickAndStartsOver) {
    make();
    ASSERT_TRUE(harness->set_int("MaxSize", 6));
    ASSERT_TRUE(harness->set_int("TrainingMode", 1));
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    harness->touch("InputMatrix");
    ASSERT_TRUE(tick_and_train());  // six samples: a run
    // A third class in the tick that reports: never trained.
    harness->feed_matrix("InputMatrix", 3, 4, {5, 1, 1, 1, 5, 2, 2, 2, 5, 3, 3, 3});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_EQ(harness->output_time("TrainedFlag"), harness->clock().GetCurrentTime());
    EXPECT_EQ(harness->output_values("Ranges"), three_ranges);
    EXPECT_NE(read_file(model()).find("nr_class 2\n"), std::string::npos);

    harness->feed_matrix("InputMatrix", 3, 4, {1, 10, 0, 20, -1, -10, 0, -20, 1, 20, 0, 30});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 0);
    harness->touch("InputMatrix");
    ASSERT_TRUE(tick_and_train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_EQ(harness->output_values("Ranges"), (std::vector<double>{-10, 20, 0, 0, -20, 30}));
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

// Incremental: the set keeps growing past MaxSize, so every tick asks again.
// The log holds a header per run and libsvm's own text.
TEST_F(SVMTrain, IncrementalRunsAgainOnEveryTickPastMaxSize) {
    make();
    ASSERT_TRUE(harness->set_int("MaxSize", 3));
    ASSERT_TRUE(prepare(3, 4, three_rows));
    for (int run = 0; run < 3; ++run) {
        harness->touch("InputMatrix");  // new rows every tick
        ASSERT_TRUE(tick_and_train());
        EXPECT_EQ(harness->output_int("TrainedFlag"), run == 0 ? 0 : 1);
    }
    harness->stop();
    harness->done();
    const std::string text = read_file(log());
    EXPECT_EQ(count_of(text, "Training started on "), 3);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("^Training started on \\d{4}-\\d{1,2}-\\d{1,2}, \\d{1,2}:\\d{1,2}:\\d{1,2}\\. \n")))
        << text;
    EXPECT_NE(text.find("optimization finished"), std::string::npos);
}

// Init refuses an input without labels, and a model it could only write
// into something that is not a regular file, or a log it cannot open.
TEST_F(SVMTrain, InitRefusesWhatItCannotUse) {
    const struct {
        std::string model, log;
        int columns;
        std::string message;
    } cases[] = {
        {model(), log(), 0, "The input matrix needs a label column; it has 0 columns."},
        {folder.string(), log(), 4, folder.string() + " cannot be written: it is a folder."},
        {model(), path("missing/log.txt"), 4,
         "Could not open the specified log file. Please check if the path is correct."},
    };
    for (const auto& c : cases) {
        make();
        ASSERT_TRUE(harness->set_string("ModelFileName", c.model));
        ASSERT_TRUE(harness->set_string("LogFileName", c.log));
        harness->feed_matrix("InputMatrix", c.columns ? 3 : 0, c.columns, c.columns ? three_rows : std::vector<double>{});
        EXPECT_FALSE(harness->init());
        EXPECT_EQ(harness->messages(Mrv::LevelError).at(0), "CSVMTrain::Init -- " + c.message + "\n");
    }
}

// Runs that cannot train or save say so at the next tick and never touch
// the model a previous run saved.
TEST_F(SVMTrain, FailedRunsAreReportedAndKeepTheSavedModel) {
    make();
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    const std::string saved = read_file(model());
    ASSERT_FALSE(saved.empty());

    // A one-class nu above 1 would make libsvm write past its start vector.
    harness->clear_notifications();
    ASSERT_TRUE(harness->set_int("SVMType", 2));
    ASSERT_TRUE(harness->set_double("Nu", 1.5));
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 0);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"CSVMTrain::Execute -- Error in training the SVM.\n",
                                        "CSVMTrain::Execute -- The parameters cannot be trained with: nu above 1 for a "
                                        "one-class SVM.\n"}));

    harness->clear_notifications();
    ASSERT_TRUE(harness->set_int("SVMType", 0));
    const std::string elsewhere = (folder / "missing" / "model.txt").string();
    ASSERT_TRUE(harness->set_string("ModelFileName", elsewhere));
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 0);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"CSVMTrain::Execute -- Error in saving the SVM model.\n",
                                        "CSVMTrain::Execute -- The model file " + elsewhere +
                                            " could not be written.\n"}));

    EXPECT_EQ(read_file(model()), saved);
}

// An empty set is not trained: the model file keeps the last model, with
// a warning. Two one-shot runs queued together: the second finds the set
// the first emptied.
TEST_F(SVMTrain, EmptySetKeepsTheModelWithAWarning) {
    make();
    ASSERT_TRUE(harness->set_int("TrainingMode", 1));
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(run_and_wait([&] { return harness->fire("TrainModel") && harness->fire("TrainModel"); }, 2));
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_NE(read_file(model()).find("nr_class 2\n"), std::string::npos);
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{"CSVMTrain::Execute -- The training set is empty; the SVM is not trained and "
                                       "the model file is left as it was.\n"});
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

// Done while one run trains and more wait: it returns once the running one
// finished, the waiting ones are dropped, and nothing is left behind.
TEST_F(SVMTrain, DoneWithRunsQueuedReturnsAndReleasesEverything) {
    std::vector<double> rows;
    for (int r = 0; r < 400; ++r) {
        rows.push_back(r % 3);
        for (int c = 0; c < 16; ++c) rows.push_back(std::sin(r * 0.37 + c * 1.3) * (r % 3 + 1));
    }
    ASSERT_TRUE(prepare(400, 17, rows));
    ASSERT_TRUE(harness->tick());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(harness->fire("TrainModel"));
    harness->stop();
    harness->done();
    const int ran = count_of(read_file(log()), "Training started on ");
    EXPECT_LE(ran, 3);
    // What never ran is named, with the block, once.
    std::vector<std::string> dropped;
    if (ran < 3)
        dropped.push_back("CSVMTrain::Done -- Block train: the run ended with " + std::to_string(3 - ran) +
                          " training run(s) still queued; they were dropped, so " + model().string() +
                          " holds no model of the last samples.\n");
    EXPECT_EQ(harness->messages(Mrv::LevelWarning), dropped);
    harness->done_instance();
}

}  // namespace
