#include "host/plugin_library.h"

#include <dlfcn.h>

#include <utility>

namespace mrvhost {

template <class F>
F PluginLibrary::resolve(const char* name) {
    dlerror();
    void* symbol = dlsym(handle_, name);
    if (!symbol) {
        const char* error = dlerror();
        const std::string text = path_ + ": missing export " + name + ": " + (error ? error : "not found");
        dlclose(handle_);
        handle_ = nullptr;
        throw LoadError(text);
    }
    return reinterpret_cast<F>(symbol);
}

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* error = dlerror();
        throw LoadError("cannot load " + path + ": " + (error ? error : "unknown error"));
    }
    identifier_ = resolve<MrvUserDll_GetDllIdentifier_t>("MrvUserDll_GetDllIdentifier");
    language_count_ = resolve<MrvUserDll_GetDllLanguageIDCount_t>("MrvUserDll_GetDllLanguageIDCount");
    language_id_ = resolve<MrvUserDll_GetDllLanguageID_t>("MrvUserDll_GetDllLanguageID");
    sdk_version_ = resolve<MrvUserDll_GetSDKVersion_t>("MrvUserDll_GetSDKVersion");
    debug_build_ = resolve<MrvUserDll_IsDebugBuild_t>("MrvUserDll_IsDebugBuild");
    signature_ = resolve<MrvUserDll_GetDllSignature_t>("MrvUserDll_GetDllSignature");
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)), identifier_(other.identifier_),
      language_count_(other.language_count_), language_id_(other.language_id_), sdk_version_(other.sdk_version_),
      debug_build_(other.debug_build_), signature_(other.signature_) {}

PluginLibrary::~PluginLibrary() {
    if (handle_) dlclose(handle_);
}

}  // namespace mrvhost
