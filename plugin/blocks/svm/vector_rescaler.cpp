#include "blocks/svm/vector_rescaler.h"

#include "blocks/svm/rescale.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const char* const InputVector = "InputVector";
const char* const InputRanges = "InputRanges";
const char* const OutputVector = "OutputVector";
const char* const OutputLowBound = "OutputLowBound";
const char* const OutputHighBound = "OutputHighBound";

const char* const lower_above_upper_message =
    "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old values will be kept.\n";
const char* const upper_below_lower_message =
    "CVectorRescaler::OnChangingParameter -- The upper bound is lower than the lower bound. The old values will be kept.\n";
const char* const not_a_vector_message =
    "CVectorRescaler::Init -- A vector should be provided as input, not a mtrix.\n";
const char* const ranges_shape_message = "CVectorRescaler::Init -- Ranges should be provided as a (%dx2) matrix.\n";
// Shapes are fixed at Init; a host that re-shapes an input while running
// gets this instead of reads past the data.
const char* const shapes_changed_message =
    "CVectorRescaler::Execute -- The input shapes changed after Init; the output is not updated.\n";

// The block's texts in the library's string table, by id.
const resources::string_entry input_vector_name{157, "Input Vector"};
const resources::string_entry input_vector_description{161, "Input vector"};
const resources::string_entry input_ranges_name{162, "Input Ranges"};
const resources::string_entry input_ranges_description{163, "Ranges of each item in the input vector"};
const resources::string_entry output_vector_name{164, "Output Vector"};
const resources::string_entry output_vector_description{165, "Rescaled vector"};
const resources::string_entry output_low_bound_name{174, "Lower bound"};
const resources::string_entry output_low_bound_description{175, "Lower bound of the rescaled vector"};
const resources::string_entry output_high_bound_name{176, "Upper bound"};
const resources::string_entry output_high_bound_description{177, "Upper bound of the rescaled vector"};

const declaration signature_table[] = {
    input(InputVector, input_vector_name, input_vector_description, "double-matrix").required(),
    // Not looked up when a saved patch is restored.
    input(InputRanges, input_ranges_name, input_ranges_description, "double-matrix").required().unchecked(),
    output(OutputVector, output_vector_name, output_vector_description, "double-matrix"),
    parameter(OutputLowBound, output_low_bound_name, output_low_bound_description, "double").initial_value(-1.0),
    parameter(OutputHighBound, output_high_bound_name, output_high_bound_description, "double").initial_value(1.0),
};

}  // namespace

CVectorRescaler::CVectorRescaler(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, InputVector),
      ranges_(this, InputRanges),
      output_(this, OutputVector),
      low_(this, OutputLowBound),
      high_(this, OutputHighBound) {
    UseTable(signature_table);
    // The ranges change rarely: only a new vector drives execution.
    AddDrivingInput(InputVector, 1);
}

// Keeps the lower bound below the upper.
bool CVectorRescaler::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    return BoundsStayOrdered(id, new_value, OutputLowBound, OutputHighBound, lower_above_upper_message,
                             upper_below_lower_message);
}

bool CVectorRescaler::Init() {
    const int32 rows = input_->GetHeight(), columns = input_->GetWidth();
    if (rows != 1 && columns != 1) {
        NotifyError("%s", not_a_vector_message);
        return false;
    }
    count_ = rows * columns;
    if (ranges_->GetHeight() != count_ || ranges_->GetWidth() != 2) {
        NotifyError(ranges_shape_message, count_);
        return false;
    }
    ShapeMatrix(output_.get(), rows, columns);
    return true;
}

// On every new input vector.
bool CVectorRescaler::Execute() {
    if (!input_) return true;
    if (input_->GetHeight() * input_->GetWidth() != count_ || ranges_->GetHeight() != count_ ||
        ranges_->GetWidth() != 2) {
        NotifyWarning("%s", shapes_changed_message);
        return true;
    }
    rescale::rescale_vector(input_->GetReadPointer(), ranges_->GetReadPointer(), static_cast<std::size_t>(count_),
                            low_->GetValue(), high_->GetValue(), output_->GetWritePointer());
    output_->SetTimeStamp(Now());
    return true;
}

block_class_registrant CVectorRescaler::Registrant() {
    return block_class_registrant("VectorRescaler")
        .language(1033)
        .name("Vector Rescaler")
        .description("This block rescales the input vector according to the given ranges.")
        .catalog_path("Math.Matrix.Operations")
        .bitmap(165)
        .language(1040)
        .name("Vector Rescaler")
        .description("Questo blocco riscala il vettore in input sulla base dei range forniti.")
        .catalog_path("Math.Matrix.Operations")
        .bitmap(165)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CVectorRescaler>);
}

}  // namespace Mrv
