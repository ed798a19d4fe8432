// Sparse samples, data lines, libsvm's output routing and model files,
// linked directly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "blocks/svm/sparse.h"
#include "common/files.h"

namespace {

namespace fs = std::filesystem;
using namespace Mrv::sparse;


TEST(SparseSample, KeepsNonZeroValuesAndNaNWithTheirIndex) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double row[] = {0.0, 2.5, nan, 0.0, -3.0};
    svm_node nodes[6];
    ASSERT_EQ(to_nodes(row, 5, 1, nodes), 3);
    EXPECT_EQ(nodes[0].index, 2);
    EXPECT_EQ(nodes[0].value, 2.5);
    EXPECT_EQ(nodes[1].index, 3);
    EXPECT_TRUE(std::isnan(nodes[1].value));
    EXPECT_EQ(nodes[2].index, 5);
    EXPECT_EQ(nodes[3].index, -1);
    // A training row: the label is skipped and column j is attribute j.
    ASSERT_EQ(to_nodes(row + 1, 4, 1, nodes), 3);
    EXPECT_EQ(nodes[0].index, 1);
    // All zero: the terminator alone.
    const double zeros[] = {0.0, -0.0};
    EXPECT_EQ(to_nodes(zeros, 2, 1, nodes), 0);
    EXPECT_EQ(nodes[0].index, -1);
}

TEST(DataLine, LabelThenNonZeroAttributesEachFollowedByABlank) {
    std::string text;
    const double a[] = {1, 0, 2.5, 0, -3};
    const double b[] = {-1, 0, 0};
    const double c[] = {7};
    const double d[] = {0.5, 1e6, 123456789};
    append_data_line(text, a, 5);
    append_data_line(text, b, 3);
    append_data_line(text, c, 1);
    append_data_line(text, d, 3);
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
        rows.clear();
        labels.clear();
        samples.clear();
        for (int i = 0; i < 30; ++i) {
            rows.push_back({{1, static_cast<double>(i)}, {-1, 0}});
            labels.push_back(i / 10);
        }
        for (auto& row : rows) samples.push_back(row.data());
        problem = {static_cast<int>(rows.size()), labels.data(), samples.data()};
        parameter = svm_parameter{};
        parameter.svm_type = C_SVC;
        parameter.kernel_type = RBF;
        parameter.gamma = 0.1;
        parameter.cache_size = 10;
        parameter.eps = 0.001;
        parameter.C = 10;
        parameter.probability = 1;
        parameter.shrinking = 1;
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
    std::vector<double> labels;
    std::vector<svm_node*> samples;
    svm_problem problem{};
    svm_parameter parameter{};
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

}  // namespace
