#include "host/object.h"

#include <cstdio>

namespace mrvhost {
namespace detail {

std::atomic<std::int64_t>& live_counter() {
    static std::atomic<std::int64_t> count{0};
    return count;
}

}  // namespace detail

std::int64_t live_object_count() { return detail::live_counter().load(); }

void throw_logic(const std::string& message) { throw HostException<Mrv::ILogicException>(message); }
void throw_cast() { throw HostException<Mrv::ICastException>("Invalid type cast.\n"); }
void throw_collection(const std::string& message) { throw HostException<Mrv::ICollectionException>(message); }
void throw_range(int count, int index) {
    char text[160];
    std::snprintf(text, sizeof text, "Error while accessing a collection.\nValid range index is [%d-%d]\nRequired index is %d.\n",
                  0, count - 1, index);
    throw_collection(text);
}

}  // namespace mrvhost
