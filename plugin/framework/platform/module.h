// Process attach/detach of the library module, in place of the Windows
// loader's DllMain notifications: the loader's constructor and destructor
// hooks call these.
#pragma once

#include <functional>

namespace Mrv {
namespace platform {

using module_handle = const void*;

// Records the module handle. Fails (false) while a handle is recorded.
bool process_attach(module_handle module);
// Runs the detach handlers (last registered first) and clears the handle.
void process_detach();

module_handle current_module();

// Work the library does on detach (emptying registration lists, releasing
// signatures); registered by the entry layer.
void on_process_detach(std::function<void()> handler);

}  // namespace platform
}  // namespace Mrv
