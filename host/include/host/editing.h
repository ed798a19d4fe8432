// Domains and editor layouts of parameters.
#pragma once

#include <string>

#include "host/object.h"
#include "mrv/editing.h"

namespace mrvhost {

// A new domain ("int-domain", "double-domain") or layout ("combo",
// "filename", "foldername", "datatype_selector_combo") of catalog
// "kernel"; the caller owns one reference. Unknown ids throw.
Mrv::IDomain* create_domain(const std::string& catalog_id, const std::string& class_id);
Mrv::IDatatypeLayout* create_layout(const std::string& catalog_id, const std::string& class_id);

}  // namespace mrvhost
