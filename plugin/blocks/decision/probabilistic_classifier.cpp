#include "blocks/decision/probabilistic_classifier.h"

#include <algorithm>

#include "blocks/decision/distribution.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const char* const InputId = "classifierinput";
const char* const CountId = "raritynumberinputid";
const char* const MatrixId = "classifiermatrixparameter";

// Output ids grow by one letter: "x_i", "x_ii", "x_iii", ...
const char* const constructed_output_base = "classifieroutput_i";
const char* const output_base = "rarityoutput_i";

constexpr int32 default_count = 2;
constexpr int32 minimum_count = 1;
constexpr int32 maximum_count = 100;
constexpr int32 matrix_width = static_cast<int32>(distribution::row_width);

const char* const count_range_message =
    "CProbabilisticClassifier::OnChangingParameter -- The number of outputs must be between 1 and 100. The old "
    "value will be kept.\n";
const char* const saved_count_message =
    "CProbabilisticClassifier::CheckSignature -- The saved number of outputs (%d) is outside 1..100.\n";
const char* const saved_outputs_message =
    "CProbabilisticClassifier::CheckSignature -- The saved block has %d outputs for %d distributions.\n";
const char* const matrix_shape_message =
    "CProbabilisticClassifier::Init -- The parameters matrix should be a (%dx4) matrix, one row per output.\n";

const declaration input_table[] = {
    input(InputId, "Input data", "This is the input value to be classified.", "double")
        .domain(double_domain().minimum(0.0, true).maximum(1.0, true)),
};

const declaration parameter_table[] = {
    parameter(CountId, "Number of input/output",
              "Number of input on which computing rarity. The same value is used to determine the number of output.",
              "int")
        .initial_value(default_count)
        .domain(int_domain().minimum(minimum_count, true).maximum(maximum_count, true))
        .attribute(3, false),
    parameter(MatrixId, "Parameters matrix",
              "A matrix containg the parameters of the distributions, every line is:\n"
              "(type,flipped,center,stdev/steepness)\n"
              "type: can be 0 (gaussian) or 1 (sigmoid)\n"
              "flipped: can be 0 (classical) or 1 (vertically flipped)\n"
              "center: the mean value (for the gaussian) or the horizontal offset (for the sigmoid)\n"
              "stdev/steepness: standard deviation of the gaussian or steepness of the sigmoid",
              "double-matrix")
        .attribute(3, true)
        .attribute(4, false),
};

std::vector<std::string> output_ids(const char* base, int32 count) {
    std::vector<std::string> ids;
    std::string id = base;
    for (int32 i = 0; i < count; ++i, id += 'i') ids.push_back(id);
    return ids;
}

}  // namespace

CProbabilisticClassifier::CProbabilisticClassifier(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::error(nullptr)),
      input_(this, InputId),
      outputs_(this),
      matrix_(this, MatrixId),
      count_(default_count) {
    UseTable(input_table);
    UseTable(parameter_table);
    outputs_.set_ids(output_ids(constructed_output_base, default_count));
    AddDrivingInput(InputId, 1);
}

// The input, then the outputs, then the parameters.
void CProbabilisticClassifier::InitSignature() {
    count_ = default_count;
    Declare(input_table);
    DeclareOutputs();
    Declare(parameter_table);
    ShapeMatrix(matrix_.get(), count_, matrix_width);
}

// N comes from the saved parameter, so the outputs checked are the ones
// that were saved; anything that does not fit raises and the base declares
// afresh.
void CProbabilisticClassifier::CheckSignature() {
    const int32 saved_count = ParameterValue<IInt>(CountId)->GetValue();
    if (saved_count < minimum_count || saved_count > maximum_count)
        throw CLogicExceptionImpl(format_text(saved_count_message, saved_count));
    std::vector<std::string> ids = output_ids(output_base, saved_count);
    for (const auto& id : ids) CSmartPtr<IDouble> check(FindOutput(id)->GetDatatype());
    const int32 saved_outputs = GetSignature()->GetOutputs()->GetCount();
    if (saved_outputs != saved_count)
        throw CLogicExceptionImpl(format_text(saved_outputs_message, saved_outputs, saved_count));
    count_ = saved_count;
    outputs_.set_ids(std::move(ids));
}

// Any state: N stays within 1..100 whoever proposes it.
bool CProbabilisticClassifier::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    if (id != CountId) return true;
    const int32 proposed = CSmartPtr<IInt>(new_value)->GetValue();
    if (proposed >= minimum_count && proposed <= maximum_count) return true;
    NotifyError("%s", count_range_message);
    return false;
}

// Design mode (N cannot change while running): the outputs are declared
// again for the new N and the matrix follows it.
void CProbabilisticClassifier::OnChangedParameter(const std::string& id) {
    if (id != CountId) return;
    outputs_.release();
    for (const auto& output_id : outputs_.ids()) RemoveOutput(output_id);
    count_ = ParameterValue<IInt>(CountId)->GetValue();
    DeclareOutputs();
    ReshapeMatrix();
    NotifyParameterChanged(MatrixId);
    NotifySignatureChanged();
}

bool CProbabilisticClassifier::Init() {
    if (matrix_->GetHeight() != count_ || matrix_->GetWidth() != matrix_width) {
        NotifyError(matrix_shape_message, count_);
        return false;
    }
    return true;
}

// On every new input value.
bool CProbabilisticClassifier::Execute() {
    IDoubleMatrix* matrix = matrix_.get();
    // The shape was checked at Init and cannot change while running.
    if (!input_ || outputs_.size() != static_cast<std::size_t>(count_) || matrix->GetHeight() != count_ ||
        matrix->GetWidth() != matrix_width)
        return true;
    const double x = input_->GetValue();
    const double* rows = matrix->GetReadPointer();
    const TimeStamp now = Now();
    for (int32 i = 0; i < count_; ++i) {
        const double* row = rows + static_cast<std::size_t>(i) * distribution::row_width;
        outputs_[i]->SetValue(distribution::membership(row, x));
        outputs_[i]->SetTimeStamp(now);
    }
    return true;
}

void CProbabilisticClassifier::DeclareOutputs() {
    outputs_.set_ids(output_ids(output_base, count_));
    for (const auto& id : outputs_.ids()) Declare(output(id.c_str(), "Output data", "Output data", "double"));
}

// Keeps every element that fits the new height; added rows get the host's
// initial values.
void CProbabilisticClassifier::ReshapeMatrix() {
    IDoubleMatrix* matrix = matrix_.get();
    auto previous = CSmartPtr<IDoubleMatrix>::adopt(Kernel()->CreateDatatype("kernel", "double-matrix"));
    previous->CopyFrom(matrix);
    ShapeMatrix(matrix, count_, matrix_width);
    const int32 rows = std::min(previous->GetHeight(), count_);
    const int32 columns = std::min(previous->GetWidth(), matrix_width);
    for (int32 row = 0; row < rows; ++row)
        for (int32 column = 0; column < columns; ++column) matrix->SetAt(row, column, previous->GetAt(row, column));
}

block_class_registrant CProbabilisticClassifier::Registrant() {
    return block_class_registrant("probabilisticclassifier")
        .language(1033)
        .name("ProbabilisticClassifier")
        .description("Computes the probability of an event referring to a predefined distribution of probability "
                     "(guassian, sigmoid).\n It is used in: N. Ennick, \"Rarity of sensed events as a cue for "
                     "attention\", Sonara Lab Journal of Interactive Systems, vol. 3, pp. 41-58, 2009.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(265)
        .author("ennick")
        .licence("base_licence")
        .company("sonara")
        .factory(create_block<CProbabilisticClassifier>);
}

}  // namespace Mrv
