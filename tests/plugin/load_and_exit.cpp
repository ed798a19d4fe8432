// A host that loads the catalog, reads its signature and exits without
// unloading it, as a host that quits does: the library must not crash the
// process on the way out. Exit status 0 means a clean exit.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mrv/dll.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_and_exit LIBRARY return|exit\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    auto signature = reinterpret_cast<MrvUserDll_GetDllSignature_t>(dlsym(library, "MrvUserDll_GetDllSignature"));
    if (!signature || !signature(1033) || !signature(1040)) return 4;
    if (std::strcmp(argv[2], "exit") == 0) std::exit(0);
    return 0;
}
