#include "framework/exceptions.h"

namespace Mrv {

CCollectionExceptionImpl CCollectionExceptionImpl::out_of_range(int32 count, int32 index) {
    return CCollectionExceptionImpl(
        format_message(MessageId::CollectionRange, 0, count - 1, index));
}

}  // namespace Mrv
