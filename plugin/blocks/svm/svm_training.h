// The SVM training set and one training run with libsvm: labelled rows
// kept as sparse samples, per-attribute ranges, optional scaling into an
// interval, and a model file that is replaced only by a complete model.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include <libsvm/svm.h>

namespace Mrv {
namespace svm_training {

// Everything a run needs besides the samples, read from the block's
// parameters when the run is requested.
struct run_settings {
    int svm_type = C_SVC;
    int kernel_type = RBF;
    double degree = 3.0;
    double gamma = 0.0;
    double coef0 = 0.0;
    double cache_size = 40.0;
    double eps = 0.001;
    double C = 1.0;
    double nu = 0.5;
    double p = 0.1;
    bool shrinking = true;
    bool probability = false;
    bool scale = true;
    double lower_bound = -1.0, upper_bound = 1.0;
    std::string model_file;
};

// libsvm codes from the combo indices; anything unknown falls back to C-SVC
// and the radial basis function.
int svm_type_code(int combo_index);
int kernel_type_code(int combo_index);

// The parameter libsvm trains with. A gamma of exactly 0 becomes
// 1 / highest_index (1 when no attribute was ever non-zero); the degree is
// rounded to libsvm's integer degree.
svm_parameter make_parameter(const run_settings& settings, int highest_index);

// One attribute value scaled from [minimum, maximum] onto [lower, upper],
// evaluated in that order so that libsvm sees the same doubles every time.
// A zero-width range gives the middle of the interval, as the rescaling
// block does for such an attribute.
double scale_value(double value, double minimum, double maximum, double lower, double upper);

enum class outcome { trained, empty, bad_parameters, train_failed, save_failed };

struct run_report {
    outcome result = outcome::trained;
    std::string detail;  // why the parameters were refused
    int classes = 0;     // classes of a trained classifier
};

class training_set {
public:
    // `columns` counts the label column: attributes are 1 .. columns - 1.
    explicit training_set(int columns = 0);

    void reserve(std::size_t samples);
    // Appends a row of `columns` values (label first) as a sparse sample
    // and widens the ranges with every attribute, zeros included.
    void add_row(const double* row);
    // Empties the set; the next row starts the ranges afresh.
    void clear();

    std::size_t size() const { return labels_.size(); }
    int columns() const { return columns_; }
    int highest_index() const { return highest_index_; }
    const std::vector<double>& minimum() const { return minimum_; }
    const std::vector<double>& maximum() const { return maximum_; }
    // The nodes of sample i, ended by index -1.
    const svm_node* sample(std::size_t i) const { return &nodes_[starts_[i]]; }
    double label(std::size_t i) const { return labels_[i]; }

    // Trains on the set (scaled copies when settings.scale) and saves the
    // model over settings.model_file. The set is left as it was. NaN and
    // infinite values train as they are; an empty set and parameters that
    // would make libsvm write out of bounds are not trained.
    run_report train_and_save(const run_settings& settings) const;

private:
    int columns_;
    std::vector<svm_node> nodes_;  // every sample's nodes and terminator
    std::vector<std::size_t> starts_;
    std::vector<double> labels_;
    std::vector<double> minimum_, maximum_;
    bool first_row_ = true;
    int highest_index_ = 0;
};

}  // namespace svm_training
}  // namespace Mrv
