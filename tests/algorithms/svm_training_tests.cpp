// The SVM training set and a training run, linked directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "blocks/svm/rescale.h"
#include "blocks/svm/svm_training.h"

namespace {

using namespace Mrv::svm_training;

std::vector<std::pair<int, double>> nodes_of(const training_set& set, std::size_t i) {
    std::vector<std::pair<int, double>> out;
    for (const svm_node* n = set.sample(i); n->index != -1; ++n) out.emplace_back(n->index, n->value);
    return out;
}

TEST(TrainingSet, KeepsNonZeroAttributesAndEveryAttributeInTheRanges) {
    training_set set(4);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double rows[] = {1, 0.5, 0, -2,  //
                           2, 0, 0, 0,     //
                           1, 3, nan, 4};
    for (int r = 0; r < 3; ++r) set.add_row(rows + 4 * r);
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(nodes_of(set, 0), (std::vector<std::pair<int, double>>{{1, 0.5}, {3, -2}}));
    EXPECT_TRUE(nodes_of(set, 1).empty());  // an all-zero row: the terminator only
    ASSERT_EQ(nodes_of(set, 2).size(), 3u);  // a NaN counts as non-zero
    EXPECT_TRUE(std::isnan(nodes_of(set, 2)[1].second));
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
    EXPECT_EQ(svm_type_code(0), C_SVC);
    EXPECT_EQ(svm_type_code(4), NU_SVR);
    EXPECT_EQ(svm_type_code(9), C_SVC);
    EXPECT_EQ(kernel_type_code(0), LINEAR);
    EXPECT_EQ(kernel_type_code(3), SIGMOID);
    EXPECT_EQ(kernel_type_code(2), RBF);
    EXPECT_EQ(kernel_type_code(-1), RBF);

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

std::string temporary_name(const char* stem) {
    return ::testing::TempDir() + stem + std::to_string(::getpid());
}

TEST(TrainingRun, TrainsSavesAndReportsWhatStopsIt) {
    training_set set(3);
    const double rows[] = {1, 1, 1, 1, 2, 1, -1, -1, -1, -1, -2, -1};
    for (int r = 0; r < 4; ++r) set.add_row(rows + 3 * r);
    run_settings settings;
    settings.model_file = temporary_name("svm_training_model");
    run_report report = set.train_and_save(settings);
    EXPECT_EQ(report.result, outcome::trained);
    EXPECT_EQ(report.classes, 2);
    svm_model* model = svm_load_model(settings.model_file.c_str());
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->param.gamma, 0.5);
    svm_free_and_destroy_model(&model);
    std::ifstream before(settings.model_file);
    const std::string saved((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());

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
    std::ifstream after(settings.model_file);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), saved);
    EXPECT_EQ(training_set(3).train_and_save(settings).result, outcome::empty);
    std::remove(settings.model_file.c_str());
}

// What libsvm's own parameter check refuses, and values that are not
// finite, go to svm_train as they are and give a model.
TEST(TrainingRun, TrainsWhatLibsvmsCheckWouldRefuse) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const double rows[] = {1, 1, 1, 1, 2, 1, -1, -1, -1, -1, -2, -1, 1, inf, 1, -1, 1, nan};
    training_set set(3);
    for (int r = 0; r < 6; ++r) set.add_row(rows + 3 * r);
    run_settings settings;
    settings.model_file = temporary_name("svm_training_unchecked");
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
        std::remove(settings.model_file.c_str());
        EXPECT_EQ(set.train_and_save(c).result, outcome::trained);
        EXPECT_EQ(::access(settings.model_file.c_str(), R_OK), 0);
    }
    std::remove(settings.model_file.c_str());
}

}  // namespace
