// What the SVM blocks share about libsvm: a matrix row as a sparse sample,
// a row as a line of libsvm's data format, where libsvm's diagnostic text
// goes, and model files that are read only when libsvm can read them safely
// and replaced only by a complete model.
#pragma once

#include <cstdio>
#include <string>

#include <libsvm/svm.h>

namespace Mrv {
namespace sparse {

// Writes the non-zero elements of values[0, count) as nodes numbered from
// `first_index` (a NaN counts as non-zero), then the terminator (index -1);
// `nodes` has room for count + 1 entries. Returns the number of nodes
// before the terminator. A training row passes its attributes (row + 1,
// columns - 1, 1): column j is attribute j; a prediction row passes the
// whole row (row, columns, 1): column j is attribute j + 1.
int to_nodes(const double* values, int count, int first_index, svm_node* nodes);

// Appends `row` (of `columns` values) as one line of libsvm's data format:
// the label (column 0) as "%g ", every non-zero attribute j as "%d:%g ",
// then a newline.
void append_data_line(std::string& text, const double* row, int columns);

// libsvm's diagnostic text is one stream for the whole process: from now
// on it goes to `log`, or nowhere when `log` is null. Call before the first
// training of a process, so libsvm never prints to standard output.
void route_output_to(std::FILE* log);
// Stops sending libsvm's text to `log` if it still goes there; call before
// closing `log`.
void stop_routing_to(std::FILE* log);

// A name for a new file in the directory of `path`, unique in the process.
std::string temporary_path_beside(const std::string& path);

// svm_save_model into a temporary file beside `path`, flushed to disk and
// then renamed over `path`: readers see the old model or the new one,
// never a part. Returns 0 on success, like svm_save_model; on failure
// `path` is untouched and no temporary file is left. A `path` that is not
// a regular file (a device, a FIFO, a folder) is never replaced.
int save_model_replacing(const std::string& path, const svm_model* model);

// Why a file is not a model that libsvm can load and this catalog can use,
// or an empty text when it is one. libsvm's loader trusts the file: a
// truncated or hand-edited model can make it read or write out of bounds.
std::string model_file_problem(const std::string& path);

// svm_load_model after model_file_problem found nothing; null otherwise,
// with the problem in `problem` when one is asked for.
svm_model* load_model_checked(const std::string& path, std::string* problem = nullptr);

// The number of class probabilities the model gives per sample: its class
// count for C-SVC and Nu-SVC, 1 for regression, 2 for one-class models.
int probability_width(const svm_model* model);

}  // namespace sparse
}  // namespace Mrv
