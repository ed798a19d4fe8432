#include "framework/platform/module.h"

#include <vector>

namespace Mrv {
namespace platform {
namespace {

module_handle recorded_module = nullptr;

std::vector<std::function<void()>>& detach_handlers() {
    static never_destroyed<std::vector<std::function<void()>>> handlers;
    return handlers.get();
}

}  // namespace

bool process_attach(module_handle module) {
    if (recorded_module != nullptr) return false;
    recorded_module = module;
    return true;
}

void process_detach() {
    auto& handlers = detach_handlers();
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) (*it)();
    release_storage(handlers);
    recorded_module = nullptr;
}

module_handle current_module() { return recorded_module; }

void on_process_detach(std::function<void()> handler) {
    detach_handlers().push_back(std::move(handler));
}

}  // namespace platform
}  // namespace Mrv
