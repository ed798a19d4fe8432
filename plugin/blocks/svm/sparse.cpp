#include "blocks/svm/sparse.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/platform/files.h"

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

int save_model_replacing(const std::string& name, const svm_model* model) {
    // A symbolic link stays: the model replaces the file it leads to.
    std::error_code ignored;
    const std::string path =
        std::filesystem::is_symlink(name, ignored) ? std::filesystem::weakly_canonical(name, ignored).string() : name;
    // A rename would replace a device or a FIFO itself.
    if (path.empty() || !platform::why_not_writable(path).empty()) return -1;
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
    if (saved && platform::why_not_writable(path).empty() && std::rename(temporary.c_str(), path.c_str()) == 0) return 0;
    std::remove(temporary.c_str());
    return -1;
}

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Numbers in the model file are read as libsvm reads them, in the C locale,
// on this thread only.
class c_locale_scope {
public:
    c_locale_scope() : locale_(::newlocale(LC_ALL_MASK, "C", nullptr)) {
        if (locale_) previous_ = ::uselocale(locale_);
    }
    ~c_locale_scope() {
        if (!locale_) return;
        ::uselocale(previous_);
        ::freelocale(locale_);
    }
    c_locale_scope(const c_locale_scope&) = delete;
    c_locale_scope& operator=(const c_locale_scope&) = delete;

private:
    locale_t locale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

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

// libsvm's line reader to the letter (a buffer of 1024 that doubles while
// no newline shows before the first NUL), so that the lines checked are
// the lines libsvm splits.
class libsvm_lines {
public:
    explicit libsvm_lines(std::FILE* file) : file_(file), buffer_(1024) {}
    char* next() {
        if (!std::fgets(buffer_.data(), static_cast<int>(buffer_.size()), file_)) return nullptr;
        while (std::strrchr(buffer_.data(), '\n') == nullptr) {
            buffer_.resize(buffer_.size() * 2);
            const std::size_t length = std::strlen(buffer_.data());
            if (!std::fgets(buffer_.data() + length, static_cast<int>(buffer_.size() - length), file_)) break;
        }
        return buffer_.data();
    }

private:
    std::FILE* file_;
    std::vector<char> buffer_;
};

// The nodes libsvm makes room for on one line: its fields between colons
// after the first.
long counted_nodes(char* line) {
    char* rest = nullptr;
    ::strtok_r(line, ":", &rest);
    long nodes = 0;
    while (::strtok_r(nullptr, ":", &rest)) ++nodes;
    return nodes;
}

// The nodes libsvm stores from one support-vector line, split as libsvm
// splits it; -1 when a coefficient is missing (libsvm would convert a null
// pointer).
long parsed_nodes(char* line, int coefficients) {
    char* rest = nullptr;
    for (int k = 0; k < coefficients; ++k)
        if (!::strtok_r(k == 0 ? line : nullptr, " \t", &rest)) return -1;
    long nodes = 0;
    for (;;) {
        const char* index = ::strtok_r(nullptr, ":", &rest);
        const char* value = ::strtok_r(nullptr, " \t", &rest);
        if (value == nullptr) return nodes;
        if (index == nullptr) return -1;
        ++nodes;
    }
}

// Everything libsvm's header reader takes, each keyword at most once.
struct model_header {
    int svm_type = -1, kernel = -1, nr_class = 0, total_sv = -1;
    long sv_sum = 0;
    std::vector<std::string> seen;
    bool has(const char* key) const { return std::find(seen.begin(), seen.end(), key) != seen.end(); }
};

// Reads the header word by word as libsvm 3.24 does; an empty text when
// it ends at "SV" with everything prediction relies on.
std::string read_header(std::FILE* file, model_header& h) {
    static const char* const svm_types[] = {"c_svc", "nu_svc", "one_class", "epsilon_svr", "nu_svr"};
    static const char* const kernels[] = {"linear", "polynomial", "rbf", "sigmoid", "precomputed"};
    static const char* const keys[] = {"svm_type", "kernel_type", "degree", "gamma", "coef0", "nr_class", "total_sv",
                                       "rho",      "label",       "probA",  "probB", "nr_sv", "SV"};
    const long most_classes = 10000;
    char word[81];
    for (;;) {
        if (std::fscanf(file, "%80s", word) != 1) return "no support vector section";
        const std::string key = word;
        if (table_index(word, keys, 13) < 0) return "unknown text \"" + key + "\"";
        if (h.has(word)) return "the header repeats " + key;
        h.seen.push_back(key);
        // Counts are read with the class count of the moment, which must
        // then be the final one.
        const long pairs = static_cast<long>(h.nr_class) * (h.nr_class - 1) / 2;
        int number = 0;
        if (key == "SV") {
            for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
            }
            return std::string();
        } else if (key == "svm_type" || key == "kernel_type") {
            if (std::fscanf(file, "%80s", word) != 1) return "the header ends early";
            int& code = key == "svm_type" ? h.svm_type : h.kernel;
            code = key == "svm_type" ? table_index(word, svm_types, 5) : table_index(word, kernels, 5);
            if (code < 0) return "unknown " + key + " \"" + word + "\"";
        } else if (key == "degree" || key == "nr_class" || key == "total_sv") {
            if (std::fscanf(file, "%d", &number) != 1) return "no number after " + key;
            if (key == "nr_class") {
                if (number < 1 || number > most_classes) return "an impossible class count";
                h.nr_class = number;
            } else if (key == "total_sv") {
                if (number < 0) return "a negative support vector count";
                h.total_sv = number;
            }
        } else if (key == "gamma" || key == "coef0") {
            if (!read_doubles(file, 1)) return "no number after " + key;
        } else if (h.nr_class == 0) {
            return key + " comes before nr_class";
        } else if (key == "rho" || key == "probA" || key == "probB") {
            if (!read_doubles(file, pairs)) return "too few values after " + key;
        } else {  // label, nr_sv
            for (int i = 0; i < h.nr_class; ++i) {
                if (std::fscanf(file, "%d", &number) != 1) return "too few values after " + key;
                if (key == "nr_sv") {
                    if (number < 0) return "a negative support vector count";
                    h.sv_sum += number;
                }
            }
        }
    }
}

std::string header_problem(const model_header& h) {
    for (const char* key : {"svm_type", "kernel_type", "nr_class", "total_sv", "rho"})
        if (!h.has(key)) return std::string("the header lacks ") + key;
    // Prediction with a precomputed kernel reads kernel values by position
    // from the sample, which a feature row does not hold.
    if (h.kernel == PRECOMPUTED) return "a precomputed kernel";
    // Kernel settings libsvm leaves unset when the file omits them.
    const bool polynomial = h.kernel == POLY;
    if ((polynomial && !h.has("degree")) || (h.kernel != LINEAR && !h.has("gamma")) ||
        ((polynomial || h.kernel == SIGMOID) && !h.has("coef0")))
        return "the header lacks a setting of its kernel";
    const bool classifier = h.svm_type == C_SVC || h.svm_type == NU_SVC;
    if (classifier && (!h.has("label") || !h.has("nr_sv"))) return "the class table is incomplete";
    // One-class and regression models predict from one row of coefficients
    // and one rho: libsvm writes them with two classes.
    if (!classifier && h.nr_class != 2) return "a one-class or regression model needs nr_class 2";
    if (h.has("nr_sv") && h.sv_sum != h.total_sv) return "nr_sv does not add up to total_sv";
    if (h.total_sv > 0 && h.nr_class < 2) return "support vectors without coefficients";
    return std::string();
}

// Goes through the support vectors twice, as libsvm's loader does: once to
// size its node array, once to fill it.
std::string support_vector_problem(std::FILE* file, const model_header& h) {
    const long start = std::ftell(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        if (c == '\0') return "the support vectors hold a NUL byte";
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0) return "the file cannot be read";
    libsvm_lines lines(file);
    long room = 0;
    for (char* line; (line = lines.next()) != nullptr;) room += counted_nodes(line);
    if (std::fseek(file, start, SEEK_SET) != 0) return "the file cannot be read";
    long stored = 0;
    for (int i = 0; i < h.total_sv; ++i) {
        char* line = lines.next();
        if (line == nullptr)
            return "the file holds " + std::to_string(i) + " of " + std::to_string(h.total_sv) + " support vectors";
        const long nodes = parsed_nodes(line, h.nr_class - 1);
        if (nodes < 0) return "support vector " + std::to_string(i + 1) + " is cut short";
        stored += nodes;
    }
    if (stored > room) return "the support vectors hold more nodes than libsvm makes room for";
    return std::string();
}

}  // namespace

// Accepts only what libsvm 3.24 reads consistently and predicts from
// within its arrays; everything else is named.
std::string model_file_problem(const std::string& path) {
    file_ptr file(std::fopen(path.c_str(), "rb"));
    if (!file) return "the file cannot be opened";
    const c_locale_scope c_numbers;
    model_header header;
    std::string problem = read_header(file.get(), header);
    if (problem.empty()) problem = header_problem(header);
    if (problem.empty()) problem = support_vector_problem(file.get(), header);
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
