#include <dlfcn.h>

#include <cstring>

#include "support/registry_fixture.h"
#include "support/test_server.h"

int32_t testServerLiveObjects() {
    // RTLD_NOLOAD finds the server only if COM has loaded it already, and never loads it.
    void* library = dlopen(testServerPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        return -1;
    }
    int32_t count = -1;
    if (void* symbol = dlsym(library, "TestServerLiveObjects")) {
        int32_t (*liveObjects)() = nullptr;
        static_assert(sizeof liveObjects == sizeof symbol, "function and data pointers differ");
        std::memcpy(&liveObjects, &symbol, sizeof symbol);
        count = liveObjects();
    }
    dlclose(library); // drops only the reference RTLD_NOLOAD added
    return count;
}
