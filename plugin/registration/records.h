// Identity of the catalog this library registers.
#pragma once

#include "registration/registrant.h"

namespace Mrv {

constexpr const char* catalog_class_id = "MrvML";

}  // namespace Mrv
