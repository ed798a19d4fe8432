// The host's datatype objects and their shapes (initialisation
// information), created by catalog id and class id.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/object.h"
#include "mrv/datatypes.h"

namespace mrvhost {

// A new datatype / shape object (the caller owns one reference); unknown
// ids throw ILogicException.
Mrv::IDatatype* create_datatype(const std::string& catalog_id, const std::string& class_id);
Mrv::IInitInfo* create_init_info(const std::string& catalog_id, const std::string& class_id);
bool is_known_datatype(const std::string& catalog_id, const std::string& class_id);

// Shortest text that reads back as the same double ("nan", "inf", "-inf").
std::string format_double(double value);

// Values as text for printing and CSV (matrices: rows of blank-separated
// numbers on separate lines).
std::string value_to_text(const Mrv::IDatatype& value);

// Values in patch files. Doubles that are not finite are the strings
// "nan", "inf", "-inf"; matrices are arrays of rows. Bad JSON for the type
// throws std::invalid_argument.
nlohmann::json value_to_json(const Mrv::IDatatype& value);
void value_from_json(Mrv::IDatatype& value, const nlohmann::json& json);

}  // namespace mrvhost
