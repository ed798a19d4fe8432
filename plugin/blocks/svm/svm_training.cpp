#include "blocks/svm/svm_training.h"

#include <climits>
#include <cmath>

#include "blocks/svm/sparse.h"

namespace Mrv {
namespace svm_training {

int svm_type_code(int combo_index) {
    switch (combo_index) {
        case 1: return NU_SVC;
        case 2: return ONE_CLASS;
        case 3: return EPSILON_SVR;
        case 4: return NU_SVR;
        default: return C_SVC;
    }
}

int kernel_type_code(int combo_index) {
    switch (combo_index) {
        case 0: return LINEAR;
        case 1: return POLY;
        case 3: return SIGMOID;
        default: return RBF;
    }
}

svm_parameter make_parameter(const run_settings& settings, int highest_index) {
    svm_parameter parameter{};
    parameter.svm_type = settings.svm_type;
    parameter.kernel_type = settings.kernel_type;
    // libsvm's degree is an int; the block's is a double.
    parameter.degree = settings.degree >= INT_MAX ? INT_MAX : static_cast<int>(std::lround(settings.degree));
    parameter.gamma = settings.gamma;
    if (settings.gamma == 0.0) parameter.gamma = highest_index == 0 ? 1.0 : 1.0 / highest_index;
    parameter.coef0 = settings.coef0;
    parameter.cache_size = settings.cache_size;
    parameter.eps = settings.eps;
    parameter.C = settings.C;
    parameter.nr_weight = 0;
    parameter.weight_label = nullptr;
    parameter.weight = nullptr;
    parameter.nu = settings.nu;
    parameter.p = settings.p;
    parameter.shrinking = settings.shrinking ? 1 : 0;
    parameter.probability = settings.probability ? 1 : 0;
    return parameter;
}

double scale_value(double value, double minimum, double maximum, double lower, double upper) {
    if (maximum == minimum) return (lower + upper) / 2.0;
    return lower + (upper - lower) / (maximum - minimum) * (value - minimum);
}

training_set::training_set(int columns) : columns_(columns) {
    const std::size_t attributes = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
    minimum_.assign(attributes, 0.0);
    maximum_.assign(attributes, 0.0);
}

void training_set::reserve(std::size_t samples) {
    starts_.reserve(samples);
    labels_.reserve(samples);
}

void training_set::add_row(const double* row) {
    const std::size_t start = nodes_.size();
    nodes_.resize(start + static_cast<std::size_t>(columns_) + 1);
    const int stored = columns_ > 1 ? sparse::to_nodes(row + 1, columns_ - 1, 1, &nodes_[start]) : 0;
    if (columns_ <= 1) nodes_[start] = svm_node{-1, 0.0};
    nodes_.resize(start + static_cast<std::size_t>(stored) + 1);
    if (stored > 0 && nodes_[start + stored - 1].index > highest_index_) highest_index_ = nodes_[start + stored - 1].index;
    for (int j = 1; j < columns_; ++j) {
        const double v = row[j];
        double& low = minimum_[j - 1];
        double& high = maximum_[j - 1];
        if (first_row_) {
            low = high = v;
        } else if (low > v) {
            low = v;
        } else if (v > high) {
            high = v;
        }
    }
    first_row_ = false;
    starts_.push_back(start);
    labels_.push_back(row[0]);
}

void training_set::clear() {
    nodes_.clear();
    starts_.clear();
    labels_.clear();
    first_row_ = true;
    highest_index_ = 0;
}

// The parameters libsvm trains with but could not survive: a one-class
// SVM sizes its start vector by nu x samples and writes it past the
// samples when nu exceeds 1 (every other value libsvm's own check refuses
// still trains, or stops at libsvm's iteration limit).
const char* unsafe_parameter(const svm_parameter& parameter) {
    if (parameter.svm_type == ONE_CLASS && !(parameter.nu <= 1.0)) return "nu above 1 for a one-class SVM";
    return nullptr;
}

run_report training_set::train_and_save(const run_settings& settings) const {
    run_report report;
    const std::size_t count = size();
    if (count == 0) {
        report.result = outcome::empty;
        return report;
    }
    std::vector<svm_node> scaled;
    const svm_node* nodes = nodes_.data();
    if (settings.scale) {
        scaled = nodes_;
        for (svm_node& node : scaled)
            if (node.index > 0)
                node.value = scale_value(node.value, minimum_[node.index - 1], maximum_[node.index - 1],
                                         settings.lower_bound, settings.upper_bound);
        nodes = scaled.data();
    }
    std::vector<svm_node*> x(count);
    for (std::size_t i = 0; i < count; ++i) x[i] = const_cast<svm_node*>(nodes + starts_[i]);
    std::vector<double> y = labels_;
    svm_problem problem{static_cast<int>(count), y.data(), x.data()};
    svm_parameter parameter = make_parameter(settings, highest_index_);
    if (const char* objection = unsafe_parameter(parameter)) {
        report.result = outcome::bad_parameters;
        report.detail = objection;
        return report;
    }
    svm_model* model = svm_train(&problem, &parameter);
    if (model == nullptr) {
        svm_destroy_param(&parameter);
        report.result = outcome::train_failed;
        return report;
    }
    report.classes = svm_get_nr_class(model);
    const int saved = sparse::save_model_replacing(settings.model_file, model);
    svm_free_and_destroy_model(&model);
    svm_destroy_param(&parameter);
    if (saved != 0) report.result = outcome::save_failed;
    return report;
}

}  // namespace svm_training
}  // namespace Mrv
