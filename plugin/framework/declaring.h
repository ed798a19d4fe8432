// Writing a declaration row into the host's signature and layout objects:
// what the block base does for every row, whatever the block.
#pragma once

#include <string>

#include "framework/declarations.h"
#include "mrv/signature.h"

namespace Mrv {

// Adds the row's pin or parameter to `signature` under the texts given.
void add_to_signature(ISignature* signature, const declaration& row, const std::string& name,
                      const std::string& description);

// Gives a freshly added parameter the row's attributes, domain bounds,
// layout (in `layout`) and initial value; a value or domain of another
// interface than the row promises raises CCastExceptionImpl.
void set_up_parameter(IParameter* parameter, ILayout* layout, const declaration& row);

// Raises CCastExceptionImpl when `value` lacks the interface that a
// parameter of class `class_id` promises.
void check_value_interface(const std::string& class_id, IDatatype* value);

}  // namespace Mrv
