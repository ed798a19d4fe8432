#include "blocks/standardize/standardize2.h"

#include <fstream>
#include <type_traits>

#include "blocks/standardize/matrix_text.h"
#include "framework/platform/files.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

using namespace standardize_ids;
const char* const Reload = "Reload";
const char* const TrainingSetFile = "TrainingSetFile";
const char* const SdTrainingSetFile = "SdTrainingSetFile";

const char* const text_files_filter = "Text files (*.txt)|*.txt|All files (*.*)|*.*||";

const char* const cannot_open_message = "Cannot open file %s\n";
// Follows the message above when the name leads to something other than a
// regular file (a FIFO would hang the host, /dev/zero would fill memory)
// or to a file above the size the block reads.
const char* const cannot_read_reason_message = "The file %s is not read: %s.\n";
// A training set or digits file above this size is refused.
const std::uint64_t largest_matrix_file = std::uint64_t(256) << 20;
const char* const no_size_message = "Cannot detect the size of matrix loaded from file %s\n";
const char* const training_parse_message = "Error in reading training set from file.\n";
const char* const digits_parse_message = "Error in reading significant digits of training set from file.\n";
const char* const reload_no_size_message =
    "Cannot detect the size of matrix loaded from file. The old values will be kept.\n";
const char* const reload_columns_message =
    "The input feature vector and the input training set should have the same number of columns (attributes). The "
    "old values will be kept.\n";
const char* const reload_training_parse_message =
    "Error in reading new training set from file. The old values will be kept.\n";
const char* const reload_digits_parse_message =
    "Error in reading new significant digits from file. The old values will be kept.\n";

filename_layout text_file_layout() { return filename_layout{text_files_filter, {false, true, true}}; }

const declaration signature_table[] = {
    feature_vector_input(),
    feature_vector_output(),
    parameter(Reload, "Reload", "Reload the training set matrix, and if required, its significant digits.", "trigger")
        .attribute(AttrDesignChange, false),
    mode_parameter(),
    parameter(TrainingSetFile, "Training set file",
              "Path of the file containing the training set on which mean and standard deviation are computed. Each "
              "column represents an attribute, each row represents an instance.",
              "string")
        .layout(text_file_layout())
        .initial_value(""),
};

// Declared while Mode is on, after SdFeatureVector.
declaration digits_file_parameter() {
    return parameter(SdTrainingSetFile, "Significant digits file",
                     "Path of a file containing a matrix as big as the training set, whose items are the nunber of "
                     "significant digits of each item of the training set.",
                     "string")
        .layout(text_file_layout())
        .initial_value("");
}


}  // namespace

// The text of a matrix file as the reader returned it.
struct CStandardize2Impl::matrix_file {
    std::string name;
    int32 rows = 0, columns = 0;
    std::string text;
};

CStandardize2Impl::CStandardize2Impl(const CreationContext* context) : CStandardizeBase(context) {
    UseTable(signature_table);
}

// The digits file of a restored instance follows its saved Mode.
void CStandardize2Impl::CheckSignature() {
    if (mode_->GetValue()) {
        FindInput(SdFeatureVector);
        ParameterValue<IString>(SdTrainingSetFile);
    }
}

// While running, a file name is accepted only when the file can be
// opened, so a typing slip cannot break a later Reload.
bool CStandardize2Impl::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    if ((id != TrainingSetFile && id != SdTrainingSetFile) || !IsRunning()) return true;
    std::ifstream file;
    return OpenForReading(CSmartPtr<IString>(new_value)->GetValue(), file);
}

// Reload only while running, Mode only in design mode, as their attributes
// say.
void CStandardize2Impl::OnChangedParameter(const std::string& id) {
    if (id == Mode) {
        SwitchDigitPins(digits_file_parameter());
    } else if (id == Reload && training_) {
        // The host reports what a parameter event raises only as the
        // framework's exceptions; the reader's header conversion error is a
        // std::exception and travels as one.
        try {
            ReloadTrainingSet();
            if (rounding_ && training_digits_ && mode_->GetValue()) ReloadDigits();
        } catch (const std::exception& error) {
            throw CStdExceptionImpl(error);
        }
    }
}

// Opens and reads the file named by a parameter; false, after the
// warning, when it cannot be opened or holds no matrix. The reader's
// exceptions pass on.
bool CStandardize2Impl::ReadFile(const char* parameter_id, bool reloading, matrix_file& file) {
    file.name = ParameterValue<IString>(parameter_id)->GetValue();
    std::ifstream stream;
    if (!OpenForReading(file.name, stream)) return false;
    ReadMatrixText(stream, file.rows, file.columns, file.text);
    if (file.rows != 0 && file.columns != 0) return true;
    if (reloading) NotifyWarning("%s", reload_no_size_message);
    else NotifyWarning(no_size_message, file.name.c_str());
    return false;
}

// Opens a regular file of at most the readable size; false after the
// warnings otherwise.
bool CStandardize2Impl::OpenForReading(const std::string& name, std::ifstream& stream) {
    const platform::readable_file file(name, largest_matrix_file);
    if (file.is_open()) stream.open(file.reopen_name());
    if (stream.is_open()) return true;
    NotifyWarning(cannot_open_message, name.c_str());
    if (!file.is_open() && !file.missing()) NotifyWarning(cannot_read_reason_message, name.c_str(), file.reason().c_str());
    return false;
}

// A new matrix of the file's shape parsed from its text; false when the
// host's parser refuses it, or splits the fields otherwise than the reader
// counted them (a carriage return inside a line), which would leave the
// statistics another shape than the output.
template <class Matrix>
bool CStandardize2Impl::Parse(const matrix_file& file, CSmartPtr<Matrix>& parsed) {
    constexpr bool reals = std::is_same_v<Matrix, IDoubleMatrix>;
    parsed = CSmartPtr<Matrix>::adopt(Kernel()->CreateDatatype("kernel", reals ? "double-matrix" : "int-matrix"));
    Reshape(parsed, file.rows, file.columns);
    return parsed->ReadFromText(file.text.c_str()) && parsed->GetHeight() == file.rows &&
           parsed->GetWidth() == file.columns;
}

template <class Matrix>
void CStandardize2Impl::Reshape(CSmartPtr<Matrix>& matrix, int32 rows, int32 columns) {
    if constexpr (std::is_same_v<Matrix, IDoubleMatrix>) ShapeMatrix(matrix.get(), rows, columns);
    else ShapeIntMatrix(matrix.get(), rows, columns);
}

// The block's matrix takes the reloaded values; both give their elements
// back first.
template <class Matrix>
void CStandardize2Impl::Replace(CSmartPtr<Matrix>& kept, CSmartPtr<Matrix>& reloaded) {
    kept->Free();
    Reshape(kept, reloaded->GetHeight(), reloaded->GetWidth());
    kept->CopyFrom(reloaded.get());
    reloaded->Free();
    reloaded_ = true;
}

bool CStandardize2Impl::Init() {
    reloaded_ = false;
    if (!CheckFeatureVector()) return false;
    const bool mode = mode_->GetValue();
    if (mode && !CheckFeatureDigits()) return false;
    if (!LoadTrainingSet()) return false;
    if (mode && !LoadDigits()) return false;
    PrepareOutput();
    first_run_ = true;
    rounding_ = mode;
    return true;
}

bool CStandardize2Impl::LoadTrainingSet() {
    matrix_file file;
    if (!ReadFile(TrainingSetFile, false, file) || !CheckTrainingColumns(file.columns)) return false;
    if (!Parse(file, training_)) {
        NotifyError("%s", training_parse_message);
        return false;
    }
    training_rows_ = file.rows;
    columns_ = file.columns;
    return true;
}

bool CStandardize2Impl::LoadDigits() {
    matrix_file file;
    if (!ReadFile(SdTrainingSetFile, false, file) || !CheckDigitsShape(file.rows, file.columns)) return false;
    if (!Parse(file, training_digits_)) {
        NotifyError("%s", digits_parse_message);
        return false;
    }
    return true;
}

// Reloaded files are checked against the columns of Init. Every failure
// keeps the matrices in use: nothing is replaced before the new file was
// read, checked and parsed.
bool CStandardize2Impl::ReadReloadedFile(const char* parameter_id, matrix_file& file) {
    if (!ReadFile(parameter_id, true, file)) return false;
    if (file.columns == columns_) return true;
    NotifyError("%s", reload_columns_message);
    return false;
}

void CStandardize2Impl::ReloadTrainingSet() {
    matrix_file file;
    CSmartPtr<IDoubleMatrix> parsed;
    if (!ReadReloadedFile(TrainingSetFile, file)) return;
    if (!Parse(file, parsed)) {
        NotifyError("%s", reload_training_parse_message);
        return;
    }
    Replace(training_, parsed);
    training_rows_ = file.rows;
}

void CStandardize2Impl::ReloadDigits() {
    matrix_file file;
    CSmartPtr<IIntMatrix> parsed;
    if (!ReadReloadedFile(SdTrainingSetFile, file) || !CheckDigitsShape(file.rows, file.columns)) return;
    if (!Parse(file, parsed)) {
        NotifyError("%s", reload_digits_parse_message);
        return;
    }
    Replace(training_digits_, parsed);
}

bool CStandardize2Impl::Execute() {
    if (!training_ || !output_) return true;
    if (first_run_ || reloaded_) {
        if (!ComputeStatistics(*training_, training_digits_.get())) return true;
        first_run_ = false;
        reloaded_ = false;
    }
    StandardizeFeatures();
    return true;
}

// The block's own matrices give their elements back before the last
// reference goes.
void CStandardize2Impl::Done() {
    if (training_) training_->Free();
    if (training_digits_) training_digits_->Free();
    training_ = nullptr;
    training_digits_ = nullptr;
}

block_class_registrant CStandardize2Impl::Registrant() {
    return CStandardizeBase::Registrant("Standardize2", create_block<CStandardize2Impl>);
}

}  // namespace Mrv
