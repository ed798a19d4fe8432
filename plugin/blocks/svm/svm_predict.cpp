#include "blocks/svm/svm_predict.h"

#include <new>

#include "blocks/svm/sparse.h"
#include "framework/platform/files.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const char* const InputMatrix = "InputMatrix";
const char* const OutputVector = "OutputVector";
const char* const ModelFileName = "ModelFileName";
const char* const RefreshModel = "RefreshModel";
const char* const Probabilities = "Probabilities";
const char* const ProbVector = "ProbVector";

const char* const cannot_open_at_init_message = "CSVMBlock::Init -- Cannot open model file: %s.\n";
const char* const cannot_allocate_message = "CSVMBlock::Init -- Cannot allocate memory for input data.\n";
const char* const cannot_open_at_refresh_message =
    "CSVMBlock::OnChangedParameter -- Cannot open model file: %s. The old model will be kept.\n";
const char* const model_updated_message = "CSVMBlock::OnChangedParameter -- SVM model updated.\n";
// Model files above this size are refused: libsvm reads a model whole.
const std::uint64_t largest_model_file = std::uint64_t(256) << 20;

// Follows the cannot-open report when the file exists but is no model.
const char* const unusable_model_message = "CSVMBlock::%s -- The model file %s cannot be used: %s.\n";
const char* const class_count_changed_message =
    "CSVMBlock::OnChangedParameter -- The new model gives %d class probabilities where the output has %d columns. "
    "Probabilities will not be written until the next Init.\n";
// Shapes are fixed at Init; a host that re-shapes the input while running
// gets this instead of reads past the data.
const char* const shape_changed_message =
    "CSVMBlock::Execute -- The input shape changed after Init; no prediction is written.\n";

struct probability_messages {
    const char* one_class;
    const char* no_probability;
};
const probability_messages init_messages = {
    "CSVMBlock::Init -- Cannot return probability values. The loaded model is a one-class model.\n",
    "CSVMBlock::Init -- Cannot return probability values. The loaded model does not contain probability "
    "information.\n"};
const probability_messages refresh_messages = {
    "CSVMBlock::OnChangedParameter -- Cannot return probability values. The loaded model is a one-class model.\n",
    "CSVMBlock::OnChangedParameter -- Cannot return probability values. The loaded model does not contain "
    "probability information.\n"};

const char* const text_file_filter = "Text files (*.txt)|*.txt|All files (*.*)|*.*||";

// The block's texts in the library's string table, by id.
const resources::string_entry input_matrix_name{166, "Input Matrix"};
const resources::string_entry input_matrix_description{167, "Input data to be analysed by the SVM"};
const resources::string_entry output_vector_name{168, "Output Vector"};
const resources::string_entry output_vector_description{169, "Output from the SVM model"};
const resources::string_entry model_file_name_name{170, "Model File Name"};
const resources::string_entry model_file_name_description{171, "Name of the file including the SVM model"};
const resources::string_entry refresh_model_name{172, "Refresh model"};
const resources::string_entry refresh_model_description{173, "Refresh the SVM model"};
const resources::string_entry probabilities_name{256, "Show probabilities"};
const resources::string_entry probabilities_description{257, "If set, an additional output is generated, providing probabilties values for classes. Note that the model should be suitably trained in order to provide probabilities values."};
const resources::string_entry prob_vector_name{258, "Output probabilities"};
const resources::string_entry prob_vector_description{259, "A vector containing the computed probabilities for each class."};

const declaration signature_table[] = {
    input(InputMatrix, input_matrix_name, input_matrix_description, "double-matrix").required(),
    output(OutputVector, output_vector_name, output_vector_description, "double-matrix"),
    parameter(ModelFileName, model_file_name_name, model_file_name_description, "string")
        .initial_value("MyModel.txt")
        // No mode flag: the model is only read, so the host lets several
        // predictions share one model file.
        .layout(filename_layout{text_file_filter, {false, true, false}}),
    parameter(RefreshModel, refresh_model_name, refresh_model_description, "trigger").attribute(2, false).attribute(3, true),
    parameter(Probabilities, probabilities_name, probabilities_description, "bool").initial_value(false).attribute(3, false),
};

// Declared after the others, only while Probabilities is true.
const declaration probability_output = output(ProbVector, prob_vector_name, prob_vector_description, "double-matrix");

}  // namespace

CSVMPredict::CSVMPredict(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, InputMatrix),
      output_(this, OutputVector),
      probabilities_(this, ProbVector, true) {
    UseTable(signature_table);
    AddDrivingInput(InputMatrix, 1);
}

CSVMPredict::~CSVMPredict() { FreeModel(); }

// The probability output of a restored instance follows its saved flag.
void CSVMPredict::CheckSignature() {
    if (ParameterValue<IBool>(Probabilities)->GetValue()) FindOutput(ProbVector);
}

bool CSVMPredict::Init() {
    columns_ = input_->GetWidth();
    rows_ = input_->GetHeight();
    ShapeMatrix(output_.get(), rows_, 1);
    FreeModel();
    model_ = LoadModel("Init", cannot_open_at_init_message);
    if (!model_) return false;
    try {
        nodes_.assign(static_cast<std::size_t>(columns_) + 1, svm_node{-1, 0.0});
    } catch (const std::bad_alloc&) {
        NotifyError("%s", cannot_allocate_message);
        return false;
    }
    probability_flag_ = ParameterValue<IBool>(Probabilities)->GetValue();
    if (probability_flag_) {
        width_ = CheckProbabilities(model_, "Init");
        ShapeMatrix(probabilities_.get(), rows_, width_);
    } else {
        // Switched on while running, the output stays unwritten until the next Init.
        probabilities_.release();
    }
    return true;
}

// On every new input matrix.
bool CSVMPredict::Execute() {
    if (!input_ || !output_ || !model_) return true;
    if (input_->GetWidth() != columns_ || input_->GetHeight() != rows_) {
        NotifyWarning("%s", shape_changed_message);
        return true;
    }
    const bool with_probabilities = WritesProbabilities();
    const double* rows = input_->GetReadPointer();
    double* values = output_->GetWritePointer();
    double* estimates = with_probabilities ? probabilities_->GetWritePointer() : nullptr;
    for (int32 r = 0; r < rows_; ++r) {
        sparse::to_nodes(rows + static_cast<std::size_t>(r) * columns_, columns_, 1, nodes_.data());
        values[r] = with_probabilities
                        ? svm_predict_probability(model_, nodes_.data(),
                                                  estimates + static_cast<std::size_t>(r) * width_)
                        : svm_predict(model_, nodes_.data());
    }
    output_->SetTimeStamp(Now());
    if (with_probabilities) probabilities_->SetTimeStamp(Now());
    return true;
}

void CSVMPredict::OnChangedParameter(const std::string& id) {
    if (id == RefreshModel) ReloadModel();
    else if (id == Probabilities) ShowProbabilities(ParameterValue<IBool>(Probabilities)->GetValue());
}

void CSVMPredict::Done() {
    FreeModel();
    std::vector<svm_node>().swap(nodes_);
}

svm_model* CSVMPredict::LoadModel(const char* method, const char* cannot_open_message) {
    const std::string name = ParameterValue<IString>(ModelFileName)->GetValue();
    // Checked and loaded through the descriptor opened here: the name cannot
    // lead libsvm to another file (a FIFO it would wait on) in between.
    const platform::readable_file file(name, largest_model_file);
    std::string problem = file.reason();
    svm_model* loaded = file.is_open() ? sparse::load_model_checked(file.reopen_name(), &problem) : nullptr;
    if (!loaded) {
        NotifyError(cannot_open_message, name.c_str());
        if (!file.missing() && !problem.empty())
            NotifyError(unusable_model_message, method, name.c_str(), problem.c_str());
    }
    return loaded;
}

int32 CSVMPredict::CheckProbabilities(const svm_model* model, const char* method) {
    const probability_messages& messages = std::string(method) == "Init" ? init_messages : refresh_messages;
    if (!svm_check_probability_model(model)) {
        NotifyError("%s", messages.no_probability);
        probability_flag_ = false;
        return 1;
    }
    if (svm_get_svm_type(model) == ONE_CLASS) {
        NotifyError("%s", messages.one_class);
        probability_flag_ = false;
    }
    return sparse::probability_width(model);
}

void CSVMPredict::ReloadModel() {
    svm_model* loaded = LoadModel("OnChangedParameter", cannot_open_at_refresh_message);
    if (!loaded) return;
    FreeModel();
    model_ = loaded;
    if (ParameterValue<IBool>(Probabilities)->GetValue()) {
        probability_flag_ = true;
        const bool had_probabilities = svm_check_probability_model(model_) && svm_get_svm_type(model_) != ONE_CLASS;
        const int32 width = CheckProbabilities(model_, "OnChangedParameter");
        if (had_probabilities && width != width_) {
            // ProbVector keeps the shape Init gave it.
            probability_flag_ = false;
            if (probabilities_) NotifyError(class_count_changed_message, width, width_);
        }
    }
    NotifyMessage("%s", model_updated_message);
}

void CSVMPredict::ShowProbabilities(bool shown) {
    probability_flag_ = shown;
    const bool declared = GetSignature()->GetOutputs()->Find(ProbVector) != nullptr;
    if (shown && !declared) {
        Declare(probability_output);
    } else if (!shown && declared) {
        probabilities_.release();
        RemoveOutput(ProbVector);
    }
    NotifySignatureChanged();
}

// Also guards against a model or an output that changed since Init: libsvm
// writes one estimate per class of the model into the row.
bool CSVMPredict::WritesProbabilities() const {
    if (!probability_flag_ || !probabilities_) return false;
    const int type = svm_get_svm_type(model_);
    return (type == C_SVC || type == NU_SVC) && svm_check_probability_model(model_) &&
           svm_get_nr_class(model_) == width_ && probabilities_->GetWidth() == width_ &&
           probabilities_->GetHeight() == rows_;
}

void CSVMPredict::FreeModel() {
    if (model_) svm_free_and_destroy_model(&model_);
    model_ = nullptr;
}

block_class_registrant CSVMPredict::Registrant() {
    return block_class_registrant("SVM")
        .language(1033)
        .name("SVM Predict")
        .description("This block provides support for performing prediction using Support Vector Machines (SVMs)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(164)
        .language(1040)
        .name("SVM Predict")
        .description("Questo blocco opera classificazioni e predizioni usando una Support Vector Machine (SVM)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(164)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CSVMPredict>);
}

}  // namespace Mrv
