// The RBF C-SVC model of the digits that the SVM benchmarks predict with,
// trained on rows the caller has already scaled and saved to NAME.
#pragma once

#include <string>
#include <vector>

#include <libsvm/svm.h>

namespace bench {

inline void silent(const char*) {}

inline std::string save_digits_model(std::vector<std::vector<svm_node>> samples, std::vector<double> labels,
                                     int attributes, bool probability, const std::string& name) {
    svm_set_print_string_function(&silent);
    std::vector<svm_node*> pointers;
    for (auto& sample : samples) pointers.push_back(sample.data());
    svm_problem problem{static_cast<int>(samples.size()), labels.data(), pointers.data()};
    svm_parameter parameter{};
    parameter.svm_type = C_SVC;
    parameter.kernel_type = RBF;
    parameter.gamma = 1.0 / attributes;
    parameter.cache_size = 40;
    parameter.eps = 0.001;
    parameter.C = 1;
    parameter.shrinking = 1;
    parameter.probability = probability ? 1 : 0;
    svm_model* model = svm_train(&problem, &parameter);
    svm_save_model(name.c_str(), model);
    svm_free_and_destroy_model(&model);
    return name;
}

}  // namespace bench
