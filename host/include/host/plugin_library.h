// Loads a user library with dlopen and resolves its six exports, as
// Morvane does.
#pragma once

#include <stdexcept>
#include <string>

#include "mrv/dll.h"

namespace mrvhost {

class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PluginLibrary {
public:
    // Throws LoadError "cannot load PATH: ..." or "PATH: missing export NAME: ...".
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    PluginLibrary(PluginLibrary&& other) noexcept;
    PluginLibrary& operator=(PluginLibrary&&) = delete;

    const std::string& path() const { return path_; }
    const char* GetDllIdentifier() const { return identifier_(); }
    Mrv::uint32 GetDllLanguageIDCount() const { return language_count_(); }
    Mrv::uint32 GetDllLanguageID(Mrv::int32 index) const { return language_id_(index); }
    const char* GetSDKVersion() const { return sdk_version_(); }
    bool IsDebugBuild() const { return debug_build_(); }
    Mrv::IDllSignature* GetDllSignature(Mrv::uint32 language) const { return signature_(language); }

private:
    template <class F>
    F resolve(const char* name);

    std::string path_;
    void* handle_ = nullptr;
    MrvUserDll_GetDllIdentifier_t identifier_ = nullptr;
    MrvUserDll_GetDllLanguageIDCount_t language_count_ = nullptr;
    MrvUserDll_GetDllLanguageID_t language_id_ = nullptr;
    MrvUserDll_GetSDKVersion_t sdk_version_ = nullptr;
    MrvUserDll_IsDebugBuild_t debug_build_ = nullptr;
    MrvUserDll_GetDllSignature_t signature_ = nullptr;
};

}  // namespace mrvhost
