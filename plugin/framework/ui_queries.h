// The host's user-interface queries (events of kind 4), answered through a
// block's public user-interface methods.
#pragma once

#include "mrv/block.h"

namespace Mrv {

// The answer to the query `event` carries; false for a query code the
// host does not define.
bool answer_ui_query(IBlock& block, IEvent& event);

}  // namespace Mrv
