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
// Every class id the host implements, "kernel" ones first.
const std::vector<std::string>& known_datatypes();
// The catalog a class id belongs to ("base" or "kernel").
std::string catalog_of(const std::string& class_id);

// The sample rate of a host temporal value (0 for another host's object).
double sample_rate(const Mrv::ITemporalData& value);
// Gives a host temporal value a new shape, every sample 0; another host's
// object is a cast error.
void reshape_temporal(Mrv::ITemporalData& value, Mrv::int32 channels, Mrv::int32 samples, double rate);

// Shortest text that reads back as the same double ("nan", "inf", "-inf").
std::string format_double(double value);
// The same, appended to `out`.
void append_double(std::string& out, double value);

// Reads a number as data files and matrix texts write it ("nan", "inf" and
// "-inf" in any case); false unless the whole text is the number.
bool parse_double(const std::string& text, double& value);

// Values as text for printing (matrices: rows of blank-separated numbers on
// separate lines).
std::string value_to_text(const Mrv::IDatatype& value);

// A JSON value for a message: at most about `limit` characters, cut with
// "...", so that a hostile value is never copied whole into a message.
std::string json_excerpt(const nlohmann::json& value, std::size_t limit = 40);

// "" when every key of `object` is among `known`; else a message naming the
// first unknown key and the known key nearest to it.
std::string unknown_key(const nlohmann::json& object, const std::vector<std::string>& known);

// Values in patch files. Doubles that are not finite are the strings
// "nan", "inf", "-inf"; matrices are arrays of rows; temporal data is
// {"rate": R, "channels": [[samples], ...]}. Bad JSON for the type
// throws std::invalid_argument.
nlohmann::json value_to_json(const Mrv::IDatatype& value);
void value_from_json(Mrv::IDatatype& value, const nlohmann::json& json);

}  // namespace mrvhost
