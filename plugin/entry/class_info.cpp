#include "entry/class_info.h"

namespace Mrv {

const char* block_class_info_impl::item(const std::vector<std::string>& ids, int32 index) {
    if (index < 0 || index >= count(ids)) throw CCollectionExceptionImpl::out_of_range(count(ids), index);
    return ids[static_cast<std::size_t>(index)].c_str();
}

}  // namespace Mrv
