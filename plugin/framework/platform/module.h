// Process attach/detach of the library module, in place of the Windows
// loader's DllMain notifications: the loader's constructor and destructor
// hooks call these.
#pragma once

#include <functional>
#include <new>
#include <utility>

namespace Mrv {
namespace platform {

using module_handle = const void*;

// Records the module handle. Fails (false) while a handle is recorded.
bool process_attach(module_handle module);
// Runs the detach handlers (last registered first) and clears the handle.
void process_detach();

module_handle current_module();

// Library-wide state that the detach handlers still use. A host that exits
// with the library loaded runs the static destructors before the loader's
// detach hook, so such state is built in place and never destroyed; detach
// empties it (release_storage) so nothing stays on the heap after unload.
template <class T>
class never_destroyed {
public:
    never_destroyed() { new (storage_) T(); }
    never_destroyed(const never_destroyed&) = delete;
    never_destroyed& operator=(const never_destroyed&) = delete;
    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

// Empties a container and gives its memory back.
template <class Container>
void release_storage(Container& container) {
    Container().swap(container);
}

// Work the library does on detach (emptying registration lists, releasing
// signatures); registered by the entry layer.
void on_process_detach(std::function<void()> handler);

}  // namespace platform
}  // namespace Mrv
