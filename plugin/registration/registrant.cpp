#include "registration/registrant.h"

namespace Mrv {

bool& library_unloaded() {
    static bool unloaded = false;
    return unloaded;
}

IBlock* block_class_registrant::create(const CreationContext* context) const {
    if (!factory_) throw CLogicExceptionImpl("Using object_class_registrant<ThisClass>::null_factory");
    return factory_(context, class_id().c_str());
}

}  // namespace Mrv
