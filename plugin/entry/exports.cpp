// The six functions the host looks up in the library, and the loader hooks
// that stand in for process attach and detach.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "entry/dll_signature.h"
#include "framework/platform/module.h"
#include "registration/registrant.h"

#define MRV_EXPORT extern "C" __attribute__((visibility("default")))

namespace Mrv {
namespace {

constexpr const char* library_identifier = "MrvML_5E0C2A91-7D4B-4f3e-A8C6-19B2D4F07E35";
constexpr const char* sdk_version = "5.1.0";

// The identifier lives in a fixed buffer for the library's lifetime.
char identifier_buffer[64];

template <class Registrant>
void empty_list() {
    platform::release_storage(registration_list<Registrant>::items());
}

void unload_library() {
    empty_list<block_class_registrant>();
    empty_list<catalog_class_registrant>();
    empty_list<author_registrant>();
    empty_list<company_registrant>();
    empty_list<licence_registrant>();
    signatures::release_all();
    library_unloaded() = true;
}

__attribute__((constructor)) void on_load() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&on_load), &info);
    if (!platform::process_attach(info.dli_fbase)) {
        std::fprintf(stderr, "MrvML: the library module is already attached\n");
        return;
    }
    std::strncpy(identifier_buffer, library_identifier, sizeof identifier_buffer - 1);
    platform::on_process_detach(unload_library);
}

__attribute__((destructor)) void on_unload() { platform::process_detach(); }

}  // namespace
}  // namespace Mrv

MRV_EXPORT const char* MrvUserDll_GetDllIdentifier() { return Mrv::identifier_buffer; }

MRV_EXPORT Mrv::uint32 MrvUserDll_GetDllLanguageIDCount() { return Mrv::signatures::count(); }

MRV_EXPORT Mrv::uint32 MrvUserDll_GetDllLanguageID(Mrv::int32 index) { return Mrv::signatures::language_at(index); }

MRV_EXPORT const char* MrvUserDll_GetSDKVersion() { return Mrv::sdk_version; }

MRV_EXPORT bool MrvUserDll_IsDebugBuild() {
#ifdef NDEBUG
    return false;
#else
    return true;
#endif
}

MRV_EXPORT Mrv::IDllSignature* MrvUserDll_GetDllSignature(Mrv::uint32 language) {
    // Nothing thrown may cross into the host: a build that fails answers null.
    try {
        return Mrv::signatures::get(static_cast<Mrv::LanguageId>(language));
    } catch (...) {
        return nullptr;
    }
}
