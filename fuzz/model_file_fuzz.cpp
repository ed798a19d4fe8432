// libFuzzer target for the SVM model-file check: whatever the check lets
// through, libsvm loads and predicts from without leaving its arrays.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "blocks/svm/sparse.h"

namespace {

// One in-memory file for every input, named the way the prediction block
// hands libsvm its model.
int model_descriptor() {
    static const int descriptor = ::memfd_create("model", 0);
    return descriptor;
}

void silent(const char*) {}

// libsvm itself is not instrumented: reading every array prediction reads,
// from here, lets the sanitizer see an array libsvm made shorter than the
// check assumed, or a support vector written past its node array.
double touch_like_prediction(const svm_model* model) {
    const int classes = model->nr_class, count = model->l;
    const int type = model->param.svm_type;
    const bool classifier = type == C_SVC || type == NU_SVC;
    const int pairs = classifier ? classes * (classes - 1) / 2 : 1;
    volatile double sum = 0;
    for (int p = 0; p < pairs; ++p) {
        sum = sum + model->rho[p];
        if (model->probA) sum = sum + model->probA[p];
        if (model->probB && classifier) sum = sum + model->probB[p];
    }
    if (classifier) {
        long total = 0;
        for (int c = 0; c < classes; ++c) {
            sum = sum + model->label[c];
            total += model->nSV[c];
        }
        if (total != count) __builtin_trap();
    }
    for (int k = 0; k < (classifier ? classes - 1 : 1); ++k)
        for (int i = 0; i < count; ++i) sum = sum + model->sv_coef[k][i];
    for (int i = 0; i < count; ++i)
        for (const svm_node* node = model->SV[i]; node->index != -1; ++node) sum = sum + node->value;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (svm_set_print_string_function(&silent), true);
    (void)quiet;
    const int descriptor = model_descriptor();
    if (descriptor < 0 || ::ftruncate(descriptor, 0) != 0) __builtin_trap();
    if (size > 0 && ::pwrite(descriptor, data, size, 0) != static_cast<ssize_t>(size)) __builtin_trap();
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor);
    if (!Mrv::sparse::model_file_problem(name).empty()) return 0;
    svm_model* model = svm_load_model(name.c_str());
    // Accepted means libsvm reads it.
    if (model == nullptr) __builtin_trap();
    touch_like_prediction(model);
    // A row like the prediction block builds: a few attributes, numbered from 1.
    const svm_node row[] = {{1, 0.5}, {2, -1.0}, {4, 3.0}, {-1, 0.0}};
    std::vector<double> estimates(static_cast<std::size_t>(Mrv::sparse::probability_width(model)));
    if (svm_check_probability_model(model) && svm_get_svm_type(model) != ONE_CLASS &&
        static_cast<int>(estimates.size()) == svm_get_nr_class(model))
        svm_predict_probability(model, row, estimates.data());
    else
        svm_predict(model, row);
    svm_free_and_destroy_model(&model);
    return 0;
}
