// The SVM blocks' libsvm helpers, linked directly: sparse samples, data
// lines, libsvm's output routing and model files, the training set and a
// training run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "blocks/svm/rescale.h"
#include "blocks/svm/sparse.h"
#include "blocks/svm/svm_training.h"
#include "common/files.h"

namespace {

namespace fs = std::filesystem;
using namespace Mrv::sparse;
using namespace Mrv::svm_training;
const double nan = std::numeric_limits<double>::quiet_NaN();

// Nodes up to the terminator as "index:value " text (NaN prints as nan).
std::string text_of(const svm_node* n) {
    std::ostringstream text;
    for (; n->index != -1; ++n) text << n->index << ':' << n->value << ' ';
    return text.str();
}

TEST(SparseSample, KeepsNonZeroValuesAndNaNWithTheirIndex) {
    const double row[] = {0.0, 2.5, nan, 0.0, -3.0};
    svm_node nodes[6] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}, {9, 9}, {-1, 0}};  // a missing terminator shows
    ASSERT_EQ(to_nodes(row, 5, 1, nodes), 3);
    EXPECT_EQ(text_of(nodes), "2:2.5 3:nan 5:-3 ");
    // A training row: the label is skipped and column j is attribute j.
    ASSERT_EQ(to_nodes(row + 1, 4, 1, nodes), 3);
    EXPECT_EQ(text_of(nodes), "1:2.5 2:nan 4:-3 ");
    // All zero: the terminator alone.
    const double zeros[] = {0.0, -0.0};
    EXPECT_EQ(to_nodes(zeros, 2, 1, nodes), 0);
    EXPECT_EQ(text_of(nodes), "");
}

TEST(DataLine, LabelThenNonZeroAttributesEachFollowedByABlank) {
    std::string text;
    for (const std::vector<double>& row : {std::vector<double>{1, 0, 2.5, 0, -3}, {-1, 0, 0}, {7}, {0.5, 1e6, 123456789}})
        append_data_line(text, row.data(), static_cast<int>(row.size()));
    EXPECT_EQ(text, "1 2:2.5 4:-3 \n-1 \n7 \n0.5 1:1e+06 2:1.23457e+08 \n");
}

class ModelFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fresh_test_folder("mrv-sparse");
        route_output_to(nullptr);
    }
    void TearDown() override {
        if (model) svm_free_and_destroy_model(&model);
        fs::remove_all(folder);
    }
    // Three classes on one attribute, with probability estimates.
    svm_model* train() {
        rows.clear();  // the model keeps pointers into the rows alone
        std::vector<double> labels;
        std::vector<svm_node*> samples;
        for (int i = 0; i < 30; ++i) {
            rows.push_back({{1, static_cast<double>(i)}, {-1, 0}});
            labels.push_back(i / 10);
        }
        for (auto& row : rows) samples.push_back(row.data());
        const svm_problem problem{30, labels.data(), samples.data()};
        run_settings settings;
        settings.gamma = 0.1, settings.cache_size = 10, settings.C = 10, settings.probability = true;
        const svm_parameter parameter = make_parameter(settings, 1);
        return svm_train(&problem, &parameter);
    }
    std::string saved_model() {
        model = train();
        EXPECT_EQ(save_model_replacing((folder / "model.txt").string(), model), 0);
        return read_file(folder / "model.txt");
    }
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
        return names;
    }

    fs::path folder;
    svm_model* model = nullptr;
    std::vector<std::vector<svm_node>> rows;
};

TEST_F(ModelFiles, SaveReplacesTheModelAndLeavesNoTemporaryFile) {
    std::ofstream(folder / "model.txt") << "old model";
    const std::string text = saved_model();
    EXPECT_EQ(text.rfind("svm_type c_svc\nkernel_type rbf\n", 0), 0u);
    EXPECT_EQ(files(), std::vector<std::string>{"model.txt"});
    EXPECT_EQ(model_file_problem((folder / "model.txt").string()), "");
    // Through a symbolic link the model replaces the file it leads to.
    fs::create_symlink("model.txt", folder / "link.txt");
    EXPECT_EQ(save_model_replacing((folder / "link.txt").string(), model), 0);
    EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
    EXPECT_EQ(read_file(folder / "model.txt"), text);
    svm_model* loaded = load_model_checked((folder / "model.txt").string());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(probability_width(loaded), 3);
    EXPECT_EQ(svm_check_probability_model(loaded), 1);
    svm_free_and_destroy_model(&loaded);
}

TEST_F(ModelFiles, FailedSaveKeepsTheOldModel) {
    model = train();
    std::ofstream(folder / "model.txt") << "old model";
    EXPECT_NE(save_model_replacing((folder / "missing" / "model.txt").string(), model), 0);
    // A directory in the model's place: the rename fails, the temporary goes.
    fs::create_directories(folder / "taken" / "inside");
    EXPECT_NE(save_model_replacing((folder / "taken").string(), model), 0);
    EXPECT_EQ(read_file(folder / "model.txt"), "old model");
    EXPECT_EQ(files().size(), 2u);
}

// Only files that libsvm reads consistently, within its arrays, load.
TEST_F(ModelFiles, UnreadableModelsAreNamedAndNeverLoaded) {
    const std::string good = saved_model();  // 3 classes: 3 rho, 3 labels, 2 coefficients per vector
    const auto problem_of = [&](const std::string& text) {
        std::ofstream(folder / "bad.txt", std::ios::binary) << text;
        return model_file_problem((folder / "bad.txt").string());
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::size_t last_line = good.rfind('\n', good.size() - 2);
    const std::string all_but_last = good.substr(0, last_line + 1);
    std::string nul = good;
    nul[good.rfind(' ')] = '\0';
    const struct {
        std::string text, problem;
    } cases[] = {
        {"", "no support vector section"},
        {"1 1:0.5 2:3\n-1 1:2\n", "unknown text \"1\""},
        {good.substr(0, good.find("rho")), "no support vector section"},
        {replaced("nr_class", "nr_klass"), "unknown text \"nr_klass\""},
        {replaced("rbf", "precomputed"), "a precomputed kernel"},
        // libsvm sizes rho by the class count of the moment: a second
        // nr_class would make prediction read 2000 classes from 3.
        {replaced("label", "nr_class 2000\nlabel"), "the header repeats nr_class"},
        {replaced("nr_class 3\n", ""), "rho comes before nr_class"},
        {replaced("gamma", "degree 3\ncoef0"), "the header lacks a setting of its kernel"},
        {replaced("nr_sv 5 4 5", "nr_sv 5 4 4"), "nr_sv does not add up to total_sv"},
        {replaced("c_svc", "one_class"), "a one-class or regression model needs nr_class 2"},
        {all_but_last, "the file holds 13 of 14 support vectors"},
        {all_but_last + "1\n", "support vector 14 is cut short"},
        // Counted as no node, stored as one: libsvm would write past its array.
        {all_but_last + "0.5 0.5 1::", "the support vectors hold more nodes than libsvm makes room for"},
        {nul, "the support vectors hold a NUL byte"},
    };
    for (const auto& c : cases) EXPECT_EQ(problem_of(c.text), c.problem) << c.text;
    EXPECT_EQ(load_model_checked((folder / "bad.txt").string()), nullptr);
    EXPECT_EQ(model_file_problem((folder / "none.txt").string()), "the file cannot be opened");
    EXPECT_EQ(problem_of(good), "");
}

TEST_F(ModelFiles, LibsvmTextGoesToTheRoutedFileOnly) {
    std::FILE* log = std::fopen((folder / "log.txt").c_str(), "w");
    route_output_to(log);
    model = train();
    stop_routing_to(log);
    std::fclose(log);
    EXPECT_NE(read_file(folder / "log.txt").find("optimization finished"), std::string::npos);
    // Silent afterwards: nothing reaches the closed file nor standard output.
    testing::internal::CaptureStdout();
    svm_model* again = train();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    svm_free_and_destroy_model(&again);
}


TEST(TrainingSet, KeepsNonZeroAttributesAndEveryAttributeInTheRanges) {
    training_set set(4);
    const double rows[] = {1, 0.5, 0, -2,  //
                           2, 0, 0, 0,     //
                           1, 3, nan, 4};
    for (int r = 0; r < 3; ++r) set.add_row(rows + 4 * r);
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(text_of(set.sample(0)), "1:0.5 3:-2 ");
    EXPECT_EQ(text_of(set.sample(1)), "");  // an all-zero row: the terminator only
    EXPECT_EQ(text_of(set.sample(2)), "1:3 2:nan 3:4 ");  // a NaN counts as non-zero
    EXPECT_EQ(set.label(1), 2.0);
    EXPECT_EQ(set.highest_index(), 3);
    EXPECT_EQ(set.minimum(), (std::vector<double>{0, 0, -2}));
    EXPECT_EQ(set.maximum(), (std::vector<double>{3, 0, 4}));

    set.clear();
    EXPECT_EQ(set.size(), 0u);
    EXPECT_EQ(set.highest_index(), 0);
    const double next[] = {0, 7, 8, 9};
    set.add_row(next);  // the first row after clear starts the ranges again
    EXPECT_EQ(set.minimum(), (std::vector<double>{7, 8, 9}));
    EXPECT_EQ(set.maximum(), (std::vector<double>{7, 8, 9}));
}

TEST(TrainingRun, CodesParameterAndScaling) {
    const struct {
        int index, svm, kernel;  // unknown indices: C-SVC and RBF
    } codes[] = {{0, C_SVC, LINEAR}, {2, ONE_CLASS, RBF}, {3, EPSILON_SVR, SIGMOID},
                 {4, NU_SVR, RBF},  {-1, C_SVC, RBF},      {9, C_SVC, RBF}};
    for (const auto& c : codes) {
        EXPECT_EQ(svm_type_code(c.index), c.svm) << c.index;
        EXPECT_EQ(kernel_type_code(c.index), c.kernel) << c.index;
    }
    run_settings settings;
    settings.degree = 2.6;
    EXPECT_EQ(make_parameter(settings, 5).gamma, 0.2);  // gamma 0: 1 / highest index
    EXPECT_EQ(make_parameter(settings, 0).gamma, 1.0);
    EXPECT_EQ(make_parameter(settings, 5).degree, 3);
    settings.gamma = 0.5;
    EXPECT_EQ(make_parameter(settings, 5).gamma, 0.5);

    EXPECT_EQ(scale_value(5, 0, 10, -1, 1), 0.0);
    EXPECT_EQ(scale_value(10, 0, 10, -1, 1), 1.0);
    EXPECT_EQ(scale_value(3, 3, 3, -1, 3), 1.0);  // zero width: the middle
}

// The rescaler's mapping: each element by its own (minimum, maximum) row,
// extrapolated beyond the range, a zero-width range to the middle.
TEST(Rescale, MapsEachElementByItsOwnRange) {
    const double input[] = {2, -1, 30, 3};
    const double ranges[] = {0, 4, -3, 1, 0, 10, 3, 3};
    double output[4];
    Mrv::rescale::rescale_vector(input, ranges, 4, 0.0, 1.0, output);
    EXPECT_EQ(std::vector<double>(output, output + 4), (std::vector<double>{0.5, 0.5, 3, 0.5}));
}

TEST(TrainingRun, TrainsSavesAndReportsWhatStopsIt) {
    training_set set(3);
    const double rows[] = {1, 1, 1, 1, 2, 1, -1, -1, -1, -1, -2, -1};
    for (int r = 0; r < 4; ++r) set.add_row(rows + 3 * r);
    const fs::path folder = fresh_test_folder("mrv-training");
    run_settings settings;
    settings.model_file = (folder / "model.txt").string();
    run_report report = set.train_and_save(settings);
    EXPECT_EQ(report.result, outcome::trained);
    EXPECT_EQ(report.classes, 2);
    const std::string saved = read_file(settings.model_file);
    EXPECT_NE(saved.find("\ngamma 0.5\n"), std::string::npos);  // 1 / highest index

    // Only what would make libsvm write past its arrays is refused; the
    // model file stays as it was.
    run_settings one_class = settings;
    one_class.svm_type = ONE_CLASS;
    one_class.nu = 1.5;
    report = set.train_and_save(one_class);
    EXPECT_EQ(report.result, outcome::bad_parameters);
    EXPECT_EQ(report.detail, "nu above 1 for a one-class SVM");
    run_settings elsewhere = settings;
    elsewhere.model_file = "/nonexistent-directory/model.txt";
    EXPECT_EQ(set.train_and_save(elsewhere).result, outcome::save_failed);
    EXPECT_EQ(read_file(settings.model_file), saved);
    EXPECT_EQ(training_set(3).train_and_save(settings).result, outcome::empty);

    // What libsvm's own parameter check refuses, and values that are not
    // finite, go to svm_train as they are and give a model.
    const double odd[] = {1, std::numeric_limits<double>::infinity(), 1, -1, 1, nan};
    set.add_row(odd);
    set.add_row(odd + 3);
    const auto with = [&](auto change) {
        run_settings changed = settings;
        change(changed);
        return changed;
    };
    const run_settings cases[] = {
        settings,
        with([](run_settings& s) { s.scale = false; }),
        with([](run_settings& s) { s.C = 0.0; }),
        with([](run_settings& s) { s.cache_size = 0.0; }),
        with([](run_settings& s) { s.svm_type = ONE_CLASS, s.probability = true, s.nu = 1.0; }),
    };
    for (const run_settings& c : cases) {
        fs::remove(settings.model_file);
        EXPECT_EQ(set.train_and_save(c).result, outcome::trained);
        EXPECT_TRUE(fs::exists(settings.model_file));
    }
    fs::remove_all(folder);
}

}  // namespace
