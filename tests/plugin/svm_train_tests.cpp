// SVMTrain through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include "common/files.h"
#include "common/live_objects_test.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include "host/datatypes.h"
#include "host/harness.h"
#include "host/live_objects.h"
#include "mrv/editing.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Plugin;
namespace fs = std::filesystem;

int count_of(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Three rows (label first): attribute 2 is always zero.
const std::vector<double> three_rows = {1, 1, 0, 2, -1, -1, 0, -2, 1, 2, 0, 3};

class SVMTrain : public LiveObjectsTest {
protected:
    void SetUp() override { directory = fresh_test_folder("svm_train"); }
    void ReleaseHostObjects() override { harness.reset(); }
    ~SVMTrain() override { fs::remove_all(directory); }

    BlockHarness& make() {
        harness = std::make_unique<BlockHarness>(plugin.find_class("SVMTrain"), "train");
        harness->init_instance();
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
    // Runs `queue` (which queues one run) and waits until that run ended:
    // a run asks the host for an execution when it is queued and again
    // when it has ended.
    template <class Queue>
    bool run_and_wait(Queue&& queue) {
        const long before = harness->status().execution_request().count();
        if (!queue()) return false;
        for (int i = 0; i < 6000; ++i) {
            if (harness->status().execution_request().count() >= before + 2) return true;
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
    fs::path model() const { return directory / "model.txt"; }
    fs::path log() const { return directory / "log.txt"; }

    Plugin plugin{Plugin::default_path()};
    std::unique_ptr<BlockHarness> harness;
    fs::path directory;
};

TEST_F(SVMTrain, DeclaresItsPinsAndParameters) {
    BlockHarness& h = make();
    auto& signature = h.signature();
    ASSERT_EQ(signature.GetInputs()->GetCount(), 1);
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetName(), "Input Matrix");
    EXPECT_TRUE(signature.GetInputs()->GetItem(0)->IsRequired());
    ASSERT_EQ(signature.GetOutputs()->GetCount(), 2);
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetId(), "TrainedFlag");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetDatatypeClassId(), "int");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetName(), "Ranges");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(1)->GetDescription(), "Ranges of the training set attributes");

    const std::vector<std::string> ids = {"SVMType", "KernelType", "Degree", "Gamma", "Coeff0", "Epsilon",
                                          "CacheSize", "C", "Nu", "p", "Shrinking", "Probability",
                                          "ModelFileName", "TrainModel", "TrainingMode", "EnableMaxSize",
                                          "MaxSize", "EnableLog", "LogFileName", "ScaleValues", "LowerBound",
                                          "UpperBound"};
    ASSERT_EQ(signature.GetParameters()->GetCount(), static_cast<int>(ids.size()));
    for (std::size_t i = 0; i < ids.size(); ++i)
        EXPECT_STREQ(signature.GetParameters()->GetItem(static_cast<int>(i))->GetId(), ids[i].c_str());
    EXPECT_STREQ(h.parameter("UpperBound").GetDescription(), "Upper bound of the rescaled training set");
    EXPECT_STREQ(h.parameter("TrainingMode").GetDescription(),
                 "Select whether to incremenatally update the model or to perform a one-shot training. ");
    EXPECT_EQ(h.parameter_int("KernelType"), 2);
    EXPECT_EQ(h.parameter_double("Epsilon"), 0.001);
    EXPECT_EQ(h.parameter_double("CacheSize"), 40.0);
    EXPECT_EQ(h.parameter_int("MaxSize"), 500);
    EXPECT_TRUE(h.parameter_bool("EnableMaxSize"));
    EXPECT_TRUE(h.parameter_bool("ScaleValues"));
    EXPECT_EQ(h.parameter_double("LowerBound"), -1.0);
    EXPECT_EQ(h.parameter("MaxSize").GetDomain(), nullptr);
    EXPECT_EQ(h.parameter("C").domain_class_id(), "double-domain");
    // Only the parameters of the default C-SVC with an RBF kernel show.
    for (const char* hidden : {"Degree", "Coeff0", "Nu", "p"})
        EXPECT_FALSE(h.parameter(hidden).GetAttribute(1)) << hidden;
    for (const char* shown : {"Gamma", "C", "MaxSize", "LogFileName", "LowerBound"})
        EXPECT_TRUE(h.parameter(shown).GetAttribute(1)) << shown;
    EXPECT_FALSE(h.parameter("TrainModel").GetAttribute(2));
    EXPECT_TRUE(h.parameter("TrainModel").GetAttribute(3));
    EXPECT_FALSE(h.parameter("EnableLog").GetAttribute(3));
    auto* file = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(h.layout().GetLayout("ModelFileName"));
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->GetFilter(), "Text files (*.txt)|*.txt|All files (*.*)|*.*||");
    EXPECT_TRUE(file->GetOption(0));
    auto* kernels = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(h.layout().GetLayout("KernelType"));
    ASSERT_NE(kernels, nullptr);
    EXPECT_EQ(kernels->GetItemCount(), 4);
    EXPECT_STREQ(kernels->GetItem(2), "Radial Basis Function");
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0].first, "InputMatrix");
}

TEST_F(SVMTrain, VisibilityFollowsTypeKernelAndSwitches) {
    BlockHarness& h = make();
    auto visible = [&](const char* id) { return h.parameter(id).GetAttribute(1); };
    ASSERT_TRUE(h.set_int("SVMType", 3));  // Epsilon-SVR
    EXPECT_TRUE(visible("C"));
    EXPECT_FALSE(visible("Nu"));
    EXPECT_TRUE(visible("p"));
    ASSERT_TRUE(h.set_int("SVMType", 2));  // One-class
    EXPECT_FALSE(visible("C"));
    EXPECT_TRUE(visible("Nu"));
    EXPECT_FALSE(visible("p"));
    ASSERT_TRUE(h.set_int("KernelType", 0));  // Linear
    EXPECT_FALSE(visible("Degree"));
    EXPECT_FALSE(visible("Gamma"));
    EXPECT_FALSE(visible("Coeff0"));
    ASSERT_TRUE(h.set_int("KernelType", 3));  // Sigmoid
    EXPECT_FALSE(visible("Degree"));
    EXPECT_TRUE(visible("Gamma"));
    EXPECT_TRUE(visible("Coeff0"));
    ASSERT_TRUE(h.set_int("KernelType", 1));
    EXPECT_TRUE(visible("Degree"));
    ASSERT_TRUE(h.set_bool("EnableMaxSize", false));
    EXPECT_FALSE(visible("MaxSize"));
    ASSERT_TRUE(h.set_bool("EnableLog", false));
    EXPECT_FALSE(visible("LogFileName"));
    ASSERT_TRUE(h.set_bool("ScaleValues", false));
    EXPECT_FALSE(visible("LowerBound"));
    EXPECT_FALSE(visible("UpperBound"));
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
    int changes = 0;
    for (const auto& n : harness->notifications()) changes += n.kind == mrvhost::Notification::SignatureChanged;
    EXPECT_EQ(changes, 2);
    // While running, the block writes the re-declared outputs.
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_EQ(harness->output_values("Ranges"), (std::vector<double>{-1, 2, 0, 0, -2, 3}));
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
    // A bound of another class is refused with the cast error as a trace.
    mrvhost::Ref<Mrv::IDatatype> text = mrvhost::Ref<Mrv::IDatatype>::adopt(mrvhost::create_datatype("kernel", "string"));
    EXPECT_FALSE(h.propose("UpperBound", text.get()));
    EXPECT_EQ(h.messages(Mrv::LevelTrace), std::vector<std::string>{"Invalid type cast.\n"});
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
    EXPECT_EQ(harness->output_values("Ranges"), (std::vector<double>{-1, 2, 0, 0, -2, 3}));
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

// MaxSize takes any value and is compared unsigned: -1 is the largest size
// (never reached), 0 is reached by every tick.
TEST_F(SVMTrain, MaxSizeIsComparedUnsigned) {
    make();
    ASSERT_TRUE(harness->set_int("MaxSize", -1));
    ASSERT_TRUE(prepare(3, 4, three_rows));
    const long before = harness->status().execution_request().count();
    for (int tick = 0; tick < 3; ++tick) {
        harness->touch("InputMatrix");
        ASSERT_TRUE(harness->tick());
    }
    EXPECT_EQ(harness->status().execution_request().count(), before);
    ASSERT_TRUE(harness->set_int("MaxSize", 0));
    harness->touch("InputMatrix");
    ASSERT_TRUE(tick_and_train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_TRUE(harness->messages().empty());
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

TEST_F(SVMTrain, GammaZeroIsOneOverTheHighestAttributeIndex) {
    make();
    ASSERT_TRUE(harness->set_bool("ScaleValues", false));
    ASSERT_TRUE(prepare(2, 6, {1, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 2}));
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    EXPECT_NE(read_file(model()).find("gamma 0.20000000000000001\n"), std::string::npos);
    harness->stop();
    harness->done();

    harness->feed_matrix("InputMatrix", 2, 6, {1, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0});
    ASSERT_TRUE(harness->begin());
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    EXPECT_NE(read_file(model()).find("gamma 1\n"), std::string::npos);
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

    // Logging off: no file, and libsvm says nothing anywhere.
    fs::remove(log());
    harness->set_running(false);
    ASSERT_TRUE(harness->set_bool("EnableLog", false));
    ASSERT_TRUE(harness->begin());
    harness->set_running(true);
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    harness->stop();
    harness->done();
    EXPECT_FALSE(fs::exists(log()));
    harness->set_running(false);

    ASSERT_TRUE(harness->set_bool("EnableLog", true));
    ASSERT_TRUE(harness->set_string("LogFileName", (directory / "missing" / "log.txt").string()));
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError)[0],
              "CSVMTrain::Init -- Could not open the specified log file. Please check if the path is correct.\n");
}

// The model and the log are written only into regular files: a device, a
// FIFO or a folder of that name fails Init, saying what it is, and stays.
TEST_F(SVMTrain, TargetsThatAreNotRegularFilesFailInit) {
    const std::string fifo = (directory / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string log_message =
        "CSVMTrain::Init -- Could not open the specified log file. Please check if the path is correct.\n";
    const struct {
        const char* parameter;
        std::string name, reason;
    } cases[] = {{"LogFileName", "/dev/full", "it is a device"},
                 {"LogFileName", fifo, "it is a FIFO"},
                 {"ModelFileName", fifo, "it is a FIFO"},
                 {"ModelFileName", "/dev/full", "it is a device"},
                 {"ModelFileName", directory.string(), "it is a folder"}};
    for (const auto& c : cases) {
        make();
        ASSERT_TRUE(harness->set_string(c.parameter, c.name));
        harness->feed_matrix("InputMatrix", 3, 4, three_rows);
        EXPECT_FALSE(harness->init());
        std::vector<std::string> expected{"CSVMTrain::Init -- " + c.name + " cannot be written: " + c.reason + ".\n",
                                          "Block train: error in method Init\n"};
        if (std::string(c.parameter) == "LogFileName") expected.insert(expected.begin(), log_message);
        EXPECT_EQ(harness->messages(Mrv::LevelError), expected) << c.name;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
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
    const std::string elsewhere = (directory / "missing" / "model.txt").string();
    ASSERT_TRUE(harness->set_string("ModelFileName", elsewhere));
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 0);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"CSVMTrain::Execute -- Error in saving the SVM model.\n",
                                        "CSVMTrain::Execute -- The model file " + elsewhere +
                                            " could not be written.\n"}));

    EXPECT_EQ(read_file(model()), saved);
    // Nothing but the model and the log beside them: no temporary left over.
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 2);
}

std::string rendered(const std::vector<double>& values) {
    std::ostringstream text;
    for (double v : values) text << v << ' ';
    return text.str();
}

// NaN and infinite attributes are stored and trained; the ranges follow
// the comparisons as they fall (a NaN first value is never replaced, a
// later NaN never taken).
TEST_F(SVMTrain, NotFiniteAttributesAreTrained) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> rows;
        std::string ranges;
    } cases[] = {
        {{1, inf, 0, 2, -1, -1, 0, -2, 1, 2, 0, 3}, "-1 inf 0 0 -2 3 "},
        {{1, 1, 0, 2, -1, nan, 0, -2, 1, 2, 0, 3}, "1 2 0 0 -2 3 "},
        {{1, nan, 0, 2, -1, -1, 0, -2, 1, 2, 0, 3}, "nan nan 0 0 -2 3 "},
    };
    for (const auto& c : cases) {
        harness.reset();
        ASSERT_TRUE(prepare(3, 4, c.rows));
        ASSERT_TRUE(harness->tick());
        ASSERT_TRUE(train());
        ASSERT_TRUE(harness->tick());
        EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
        EXPECT_EQ(rendered(harness->output_values("Ranges")), c.ranges);
        EXPECT_TRUE(harness->messages().empty());
    }
}

// An empty set is not trained: the model file keeps the last model, with
// a warning. Two one-shot runs queued together: the second finds the set
// the first emptied.
TEST_F(SVMTrain, EmptySetKeepsTheModelWithAWarning) {
    make();
    ASSERT_TRUE(harness->set_int("TrainingMode", 1));
    ASSERT_TRUE(prepare(3, 4, three_rows));
    ASSERT_TRUE(harness->tick());
    const long before = harness->status().execution_request().count();
    ASSERT_TRUE(harness->fire("TrainModel"));
    ASSERT_TRUE(harness->fire("TrainModel"));
    // Each run asks for an execution when queued and when ended.
    for (int i = 0; i < 6000 && harness->status().execution_request().count() < before + 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_NE(read_file(model()).find("nr_class 2\n"), std::string::npos);
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{"CSVMTrain::Execute -- The training set is empty; the SVM is not trained and "
                                       "the model file is left as it was.\n"});
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
}

// A label column alone still trains: every sample is the terminator only,
// gamma falls back to 1 and the ranges have no row.
TEST_F(SVMTrain, LabelOnlyInputTrainsAndAMatrixWithoutColumnsIsRefused) {
    ASSERT_TRUE(prepare(2, 1, {1, -1}));
    EXPECT_EQ(harness->output_matrix("Ranges")->GetHeight(), 0);
    EXPECT_EQ(harness->output_matrix("Ranges")->GetWidth(), 2);
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(train());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_int("TrainedFlag"), 1);
    EXPECT_NE(read_file(model()).find("gamma 1\n"), std::string::npos);
    EXPECT_TRUE(harness->messages(Mrv::LevelError).empty());
    harness->stop();
    harness->done();

    harness->feed_matrix("InputMatrix", 0, 0, {});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError)[0],
              "CSVMTrain::Init -- The input matrix needs a label column; it has 0 columns.\n");
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
    EXPECT_EQ(harness->output_values("Ranges"), (std::vector<double>{-1, 2, 0, 0, -2, 3}));
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

TEST_F(SVMTrain, SavedInstanceWithoutScalingHasNoRanges) {
    BlockHarness& h = make();
    ASSERT_TRUE(h.set_bool("ScaleValues", false));
    ASSERT_TRUE(h.set_int("KernelType", 0));
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    BlockHarness restored(plugin.find_class("SVMTrain"), "again");
    restored.init_instance(*saved);
    EXPECT_EQ(restored.signature().GetOutputs()->GetCount(), 1);
    EXPECT_EQ(restored.parameter_int("KernelType"), 0);
    restored.set_string("LogFileName", log().string());
    restored.set_string("ModelFileName", model().string());
    restored.feed_matrix("InputMatrix", 3, 4, three_rows);
    ASSERT_TRUE(restored.begin());
    ASSERT_TRUE(restored.tick());
    EXPECT_TRUE(restored.messages().empty());
}

}  // namespace
