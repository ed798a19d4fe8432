// SVMTrain through the dlopen'ed plug-in: the training runs on the worker
// thread, what they report, the model and log files, the parameters'
// visibility (the training set's numbers are the algorithm tests').
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <thread>

#include "plugin/block_test.h"

namespace {

using mrvhost::BlockHarness;
namespace fs = std::filesystem;

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

TEST_F(SVMTrain, VisibilityFollowsTypeKernelAndSwitches) {
    BlockHarness& h = make();
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
    // The host heard of each change of visibility.
    int hidden_degree = 0;
    for (const auto& n : h.notifications())
        if (n.kind == mrvhost::Notification::Visibility && n.parameter_id == "Degree" && !n.shown) ++hidden_degree;
    EXPECT_EQ(hidden_degree, 2);
}

TEST_F(SVMTrain, RangesOutputGoesAndComesBackAfterTrainedFlag) {
    ASSERT_TRUE(prepare(3, 4, three_rows));
    harness->set_running(false);  // scaling is switched between runs
    ASSERT_TRUE(harness->set_bool("ScaleValues", false));
    ASSERT_EQ(harness->signature().GetOutputs()->GetCount(), 1);
    ASSERT_TRUE(harness->set_bool("ScaleValues", true));
    harness->set_running(true);
    ASSERT_EQ(harness->signature().GetOutputs()->GetCount(), 2);
    EXPECT_STREQ(harness->signature().GetOutputs()->GetItem(0)->GetId(), "TrainedFlag");
    EXPECT_STREQ(harness->signature().GetOutputs()->GetItem(1)->GetId(), "Ranges");
    EXPECT_EQ(signature_changes(), 2);
    // While running, the block writes the re-declared outputs.
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_EQ(harness->output_values("Ranges"), three_ranges);
}

TEST_F(SVMTrain, BoundsStayOrdered) {
    BlockHarness& h = make();
    EXPECT_FALSE(h.set_double("LowerBound", 1.0));
    EXPECT_FALSE(h.set_double("UpperBound", -1.0));
    EXPECT_EQ(h.parameter_double("LowerBound"), -1.0);
    EXPECT_EQ(h.parameter_double("UpperBound"), 1.0);
    EXPECT_EQ(h.messages(Mrv::LevelError),
              (std::vector<std::string>{"CSVMTrain::OnChangingParameter -- The lower bound is greater than the upper "
                                        "bound. The old values will be kept.\n",
                                        "CSVMTrain::OnChangingParameter -- The upper bound is lower than the lower "
                                        "bound. The old values will be kept.\n"}));
    EXPECT_TRUE(h.set_double("UpperBound", 3.0));
    EXPECT_TRUE(h.set_double("LowerBound", 2.0));
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
    EXPECT_NE(read_file(model()).find("nr_class 2\n"), std::string::npos);
    EXPECT_EQ(harness->output_values("Ranges"), (std::vector<double>{-10, 20, 0, 0, -20, 30}));
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

// Incremental: the set keeps growing past MaxSize, so every tick asks again.
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
    EXPECT_EQ(count_of(read_file(log()), "Training started on "), 3);
}

TEST_F(SVMTrain, LogHoldsAHeaderPerRunAndLibsvmsText) {
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    harness->stop();
    harness->done();
    const std::string text = read_file(log());
    EXPECT_TRUE(std::regex_search(text, std::regex("^Training started on \\d{4}-\\d{1,2}-\\d{1,2}, "
                                                   "\\d{1,2}:\\d{1,2}:\\d{1,2}\\. \n")))
        << text;
    EXPECT_NE(text.find("optimization finished"), std::string::npos);
    EXPECT_NE(text.find("Total nSV = "), std::string::npos);
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

TEST_F(SVMTrain, RowsOfAReshapedInputAreNotTaken) {
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    harness->feed_matrix("InputMatrix", 1, 4, {1, 5, 5, 5});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{
                  "CSVMTrain::Execute -- The input shape changed after Init; the rows of this tick are not added.\n"});
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("Ranges"), three_ranges);
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
