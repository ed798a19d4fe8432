#include "blocks/svm/libsvm_save.h"

#include <unistd.h>

#include "blocks/svm/sparse.h"
#include "framework/platform/files.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const char* const InputMatrix = "InputMatrix";
const char* const FileName = "FileName";
const char* const SaveMode = "SaveMode";

const int32 append_mode = 0;

const char* const cannot_open_at_init_message = "CLibSVMSave::Init -- Cannot open output file %s.\n";
const char* const old_file_kept_message =
    "CLibSVMSave::OnChangedParameter -- Cannot open output file %s. The old file will be kept.\n";
const char* const writing_stopped_message =
    "CLibSVMSave::OnChangedParameter -- Cannot open output file. File writing will be stopped.\n";
// Follows the cannot-open reports when the name is taken by something that
// is not a regular file (a device, a FIFO, a folder), which is never opened.
const char* const not_regular_message = "CLibSVMSave::%s -- %s cannot be written: %s.\n";
// A full disk or a removed medium: the user learns which file lost the tick.
const char* const cannot_write_message = "CLibSVMSave::Execute -- Cannot write to output file %s.\n";
// Shapes are fixed at Init; a host that re-shapes the input while running
// gets this instead of reads past the data.
const char* const shape_changed_message =
    "CLibSVMSave::Execute -- The input shape changed after Init; the matrix is not written.\n";

const char* const text_file_filter = "Text files (*.txt)|*.txt|All files (*.*)|*.*||";

// The block's texts in the library's string table, by id.
const resources::string_entry input_matrix_name{178, "Input Matrix"};
const resources::string_entry input_matrix_description{179, "The input matrix to be saved in LibSVM format"};
const resources::string_entry file_name_name{114, "File Name"};
const resources::string_entry file_name_description{115, "Name of the output file that will be formatted in LibSVM style"};
const resources::string_entry save_mode_name{112, "Save Mode"};
const resources::string_entry save_mode_description{113, "Specify whether new data should overwrite the older ones or if the new data are appended after the older ones"};

const declaration signature_table[] = {
    input(InputMatrix, input_matrix_name, input_matrix_description, "double-matrix").required(),
    parameter(FileName, file_name_name, file_name_description, "string")
        .initial_value("MyLibSVMFile.txt")
        .layout(filename_layout{text_file_filter, {true, false, false}}),
    parameter(SaveMode, save_mode_name, save_mode_description, "int")
        .initial_value(1)
        .domain(int_domain().minimum(0, true).maximum(1, true))
        .layout(combo_layout{{"Append", "Overwrite"}}),
};

}  // namespace

CLibSVMSave::CLibSVMSave(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()), input_(this, InputMatrix), save_mode_(this, SaveMode) {
    UseTable(signature_table);
    AddDrivingInput(InputMatrix, 1);
}

// Done normally closed the file.
CLibSVMSave::~CLibSVMSave() { Close(); }

bool CLibSVMSave::Init() {
    columns_ = input_->GetWidth();
    rows_ = input_->GetHeight();
    Close();
    const std::string name = ParameterValue<IString>(FileName)->GetValue();
    std::string reason;
    if (!Open(name, &reason)) {
        NotifyError(cannot_open_at_init_message, name.c_str());
        if (!reason.empty()) NotifyError(not_regular_message, "Init", name.c_str(), reason.c_str());
        return false;
    }
    return true;
}

// On every new input matrix.
bool CLibSVMSave::Execute() {
    // A matrix without columns has no labels: there is no line to write.
    if (!file_ || !input_ || columns_ < 1) return true;
    if (input_->GetWidth() != columns_ || input_->GetHeight() != rows_) {
        NotifyWarning("%s", shape_changed_message);
        return true;
    }
    text_.clear();
    const double* values = input_->GetReadPointer();
    for (int32 r = 0; r < rows_; ++r)
        sparse::append_data_line(text_, values + static_cast<std::size_t>(r) * columns_, columns_);
    const bool overwriting = Overwriting();
    if (overwriting) std::rewind(file_);
    bool written = std::fwrite(text_.data(), 1, text_.size(), file_) == text_.size() &&
                   std::fflush(file_) == 0;
    if (written && overwriting) written = ::ftruncate(::fileno(file_), std::ftell(file_)) == 0;
    if (!written) {
        std::clearerr(file_);
        NotifyError(cannot_write_message, open_name_.c_str());
    }
    return true;
}

// The file follows the parameters only while the patch runs (Init opens
// it otherwise).
void CLibSVMSave::OnChangedParameter(const std::string& id) {
    if (!IsRunning() || (id != FileName && id != SaveMode)) return;
    Close();
    const std::string name = ParameterValue<IString>(FileName)->GetValue();
    std::string reason;
    const bool opened = Open(name, &reason);
    if (id == FileName) {
        if (opened) {
            open_name_ = name;
            return;
        }
        const std::string previous = open_name_;
        const bool reopened = !previous.empty() && Open(previous, nullptr);
        ParameterValue<IString>(FileName)->SetValue(previous.c_str());
        NotifyParameterChanged(FileName);
        if (reopened) NotifyError(old_file_kept_message, name.c_str());
        else NotifyError("%s", writing_stopped_message);
    } else if (!opened) {
        NotifyError("%s", writing_stopped_message);
    }
    if (!opened && !reason.empty())
        NotifyError(not_regular_message, "OnChangedParameter", name.c_str(), reason.c_str());
}

void CLibSVMSave::Done() { Close(); }

bool CLibSVMSave::Overwriting() { return save_mode_->GetValue() != append_mode; }

bool CLibSVMSave::Open(const std::string& name, std::string* reason) {
    file_ = platform::open_for_writing(name, !Overwriting(), reason);
    if (file_) open_name_ = name;
    return file_ != nullptr;
}

void CLibSVMSave::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

block_class_registrant CLibSVMSave::Registrant() {
    return block_class_registrant("LibSVMSave")
        .language(1033)
        .name("LibSVM Save")
        .description("This block allows saving a matrix in the format required by the libsvm tools")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(166)
        .language(1040)
        .name("LibSVM Save")
        .description("Questo blocco permette di salvare una matrice nel formato richiesto dai tool di libsvm")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(166)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CLibSVMSave>);
}

}  // namespace Mrv
