#include "blocks/svm/sparse.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace Mrv {
namespace sparse {

int to_nodes(const double* values, int count, int first_index, svm_node* nodes) {
    int written = 0;
    for (int j = 0; j < count; ++j) {
        const double v = values[j];
        if (v != 0.0) nodes[written++] = svm_node{first_index + j, v};
    }
    nodes[written] = svm_node{-1, 0.0};
    return written;
}

void append_data_line(std::string& text, const double* row, int columns) {
    char field[64];
    text.append(field, static_cast<std::size_t>(std::snprintf(field, sizeof field, "%g ", row[0])));
    for (int j = 1; j < columns; ++j) {
        if (row[j] == 0.0) continue;
        text.append(field, static_cast<std::size_t>(std::snprintf(field, sizeof field, "%d:%g ", j, row[j])));
    }
    text.push_back('\n');
}

// ---- libsvm's diagnostic text ---------------------------------------------

namespace {

std::mutex routing_mutex;
std::FILE* routed_to = nullptr;

void print_routed(const char* text) {
    std::lock_guard<std::mutex> hold(routing_mutex);
    if (routed_to) std::fputs(text, routed_to);
}

}  // namespace

void route_output_to(std::FILE* log) {
    // libsvm's own pointer is written once, before any training reads it.
    static std::once_flag installed;
    std::call_once(installed, [] { svm_set_print_string_function(&print_routed); });
    std::lock_guard<std::mutex> hold(routing_mutex);
    routed_to = log;
}

void stop_routing_to(std::FILE* log) {
    std::lock_guard<std::mutex> hold(routing_mutex);
    if (routed_to == log) routed_to = nullptr;
}

// ---- model files ----------------------------------------------------------

std::string temporary_path_beside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".saving-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

int save_model_replacing(const std::string& path, const svm_model* model) {
    std::string temporary;
    // A name nobody else uses; created here so the umask applies as usual.
    for (int attempt = 0; attempt < 16 && temporary.empty(); ++attempt) {
        std::string candidate = temporary_path_beside(path);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            ::close(fd);
            temporary = std::move(candidate);
        } else if (errno != EEXIST) {
            return -1;
        }
    }
    if (temporary.empty()) return -1;
    bool saved = svm_save_model(temporary.c_str(), model) == 0;
    if (saved) {
        // On disk before the rename, so a crash cannot leave an empty model.
        const int fd = ::open(temporary.c_str(), O_RDONLY);
        saved = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
    }
    if (saved && std::rename(temporary.c_str(), path.c_str()) == 0) return 0;
    std::remove(temporary.c_str());
    return -1;
}

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

int table_index(const char* word, const char* const* table, int size) {
    for (int i = 0; i < size; ++i)
        if (std::strcmp(word, table[i]) == 0) return i;
    return -1;
}

bool read_doubles(std::FILE* file, long count) {
    double value;
    for (long i = 0; i < count; ++i)
        if (std::fscanf(file, "%lf", &value) != 1) return false;
    return true;
}

// Tokens separated by blanks and tabs only, up to the first NUL, as
// libsvm's loader splits a support-vector line.
int count_tokens(const char* line) {
    int tokens = 0;
    bool inside = false;
    for (const char* c = line; *c; ++c) {
        const bool separator = *c == ' ' || *c == '\t';
        if (!separator && !inside) ++tokens;
        inside = !separator;
    }
    return tokens;
}

}  // namespace

// Reads the header the way libsvm 3.24 does (word by word with fscanf) and
// requires everything its prediction code later relies on.
std::string model_file_problem(const std::string& path) {
    file_ptr file(std::fopen(path.c_str(), "rb"));
    if (!file) return "the file cannot be opened";
    static const char* const svm_types[] = {"c_svc", "nu_svc", "one_class", "epsilon_svr", "nu_svr"};
    static const char* const kernels[] = {"linear", "polynomial", "rbf", "sigmoid", "precomputed"};
    const long most_classes = 10000;
    int svm_type = -1, kernel = -1, nr_class = 0, total_sv = -1, number;
    bool has_rho = false, has_label = false, has_nr_sv = false, has_sv = false;
    long sv_sum = 0;
    char word[81];
    while (std::fscanf(file.get(), "%80s", word) == 1) {
        const std::string key = word;
        const long pairs = static_cast<long>(nr_class) * (nr_class - 1) / 2;
        if (key == "svm_type" || key == "kernel_type") {
            if (std::fscanf(file.get(), "%80s", word) != 1) return "the header ends early";
            int& code = key == "svm_type" ? svm_type : kernel;
            code = key == "svm_type" ? table_index(word, svm_types, 5) : table_index(word, kernels, 5);
            if (code < 0) return "unknown " + key + " \"" + word + "\"";
        } else if (key == "degree" || key == "nr_class" || key == "total_sv") {
            if (std::fscanf(file.get(), "%d", &number) != 1) return "no number after " + key;
            if (key == "nr_class") {
                if (number < 1 || number > most_classes) return "an impossible class count";
                nr_class = number;
            } else if (key == "total_sv") {
                if (number < 0) return "a negative support vector count";
                total_sv = number;
            }
        } else if (key == "gamma" || key == "coef0") {
            if (!read_doubles(file.get(), 1)) return "no number after " + key;
        } else if (key == "rho" || key == "probA" || key == "probB") {
            if (nr_class == 0) return key + " comes before nr_class";
            if (!read_doubles(file.get(), pairs)) return "too few values after " + key;
            has_rho = has_rho || key == "rho";
        } else if (key == "label" || key == "nr_sv") {
            if (nr_class == 0) return key + " comes before nr_class";
            for (int i = 0; i < nr_class; ++i) {
                if (std::fscanf(file.get(), "%d", &number) != 1) return "too few values after " + key;
                if (key == "nr_sv") {
                    if (number < 0) return "a negative support vector count";
                    sv_sum += number;
                }
            }
            (key == "label" ? has_label : has_nr_sv) = true;
        } else if (key == "SV") {
            has_sv = true;
            break;
        } else {
            return "unknown text \"" + key + "\"";
        }
    }
    if (!has_sv) return "no support vector section";
    if (svm_type < 0 || kernel < 0 || nr_class == 0 || total_sv < 0 || !has_rho) return "the header is incomplete";
    // Prediction with a precomputed kernel reads kernel values by position
    // from the sample, which a feature row does not hold.
    if (kernel == 4) return "a precomputed kernel";
    const bool classifier = svm_type == 0 || svm_type == 1;
    if (classifier && (!has_label || !has_nr_sv || sv_sum != total_sv)) return "the class table is incomplete";
    const int coefficients = nr_class - 1;
    if (total_sv > 0 && coefficients < 1) return "support vectors without coefficients";
    for (int c = std::fgetc(file.get()); c != EOF && c != '\n'; c = std::fgetc(file.get())) {
    }
    char* line = nullptr;
    std::size_t capacity = 0;
    int lines = 0;
    std::string problem;
    for (ssize_t length; lines < total_sv && (length = ::getline(&line, &capacity, file.get())) > 0;) {
        // libsvm finds line ends with string functions: a NUL byte would
        // make it join lines and then read more of them than there are.
        if (std::strlen(line) != static_cast<std::size_t>(length)) {
            problem = "support vector " + std::to_string(lines + 1) + " holds a NUL byte";
            break;
        }
        if (count_tokens(line) < coefficients) {
            problem = "support vector " + std::to_string(lines + 1) + " is cut short";
            break;
        }
        ++lines;
    }
    std::free(line);
    if (problem.empty() && lines < total_sv)
        problem = "the file holds " + std::to_string(lines) + " of " + std::to_string(total_sv) + " support vectors";
    return problem;
}

svm_model* load_model_checked(const std::string& path, std::string* problem) {
    std::string found = model_file_problem(path);
    if (problem) *problem = found;
    return found.empty() ? svm_load_model(path.c_str()) : nullptr;
}

int probability_width(const svm_model* model) {
    switch (svm_get_svm_type(model)) {
    case C_SVC:
    case NU_SVC: return svm_get_nr_class(model);
    case ONE_CLASS: return 2;
    default: return 1;
    }
}

}  // namespace sparse
}  // namespace Mrv
