// The registry stand-in: a .reg file read into a tree. Each opened key holds the snapshot it
// was opened in, so a handle stays valid when the file changes and is read again.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "korvane_paths.h"
#include "platform/posix/win32_api_posix.h"
#include "platform/process.h"
#include "platform/reg_text.h"
#include "platform/registry_file.h"

namespace {

struct Snapshot {
    RegTextKey tree;
};

struct OpenKey {
    std::shared_ptr<const Snapshot> snapshot;
    const RegTextKey* key;
};

struct RegistryState {
    std::mutex mutex;
    std::string path;
    std::string bytes;
    bool loaded = false;
    std::shared_ptr<const Snapshot> snapshot = std::make_shared<Snapshot>();
    std::map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x1000;
};

RegistryState& state() {
    static RegistryState* registry = new RegistryState; // outlives every static destructor
    return *registry;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A build folder's own file beside its programs wins over the installed one.
RegistryFile chooseRegistryFile() {
    RegistryFile file;
    if (const char* fromEnvironment = std::getenv("KORVANE_REGISTRY")) {
        file.source = RegistrySource::Variable;
        file.path = fromEnvironment;
    } else {
        file.source = RegistrySource::BesideProgram;
        file.path = executableDirectory() + "/korvane.reg";
        if (!isRegularFile(file.path)) {
            file.source = RegistrySource::SystemFile;
            file.path = KORVANE_SYSTEM_REGISTRY;
        }
    }
    file.exists = isRegularFile(file.path);
    return file;
}

bool readFile(const std::string& path, std::string& bytes) {
    if (!isRegularFile(path)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return !in.bad();
}

// As on Windows, HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\SOFTWARE\Classes are one store.
void joinClassesRoot(RegTextKey& tree) {
    RegTextKey& classes = regTextSubkey(
        regTextSubkey(regTextSubkey(tree, "HKEY_LOCAL_MACHINE"), "SOFTWARE"), "Classes");
    if (const RegTextKey* root = findRegTextKey(tree, "HKEY_CLASSES_ROOT")) {
        mergeRegTextKey(classes, *root);
    }
    const RegTextKey merged = *findRegTextKey(tree, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
    RegTextKey& root = regTextSubkey(tree, "HKEY_CLASSES_ROOT");
    root.values = merged.values;
    root.subkeys = merged.subkeys;
}

// Re-reads the file when its path or content changed since the last look.
void refresh(RegistryState& registry) {
    const std::string path = chooseRegistryFile().path;
    std::string bytes;
    const bool readable = readFile(path, bytes);
    if (registry.loaded && path == registry.path && bytes == registry.bytes) {
        return;
    }
    auto snapshot = std::make_shared<Snapshot>();
    if (!readable || !parseRegText(bytes, snapshot->tree)) {
        snapshot->tree = RegTextKey{};
    }
    joinClassesRoot(snapshot->tree);
    regTextSubkey(snapshot->tree, "HKEY_CURRENT_USER"); // roots exist even when empty
    registry.path = path;
    registry.bytes = bytes;
    registry.loaded = true;
    registry.snapshot = snapshot;
}

const char* rootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (key == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    if (key == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    return nullptr;
}

// The key behind a handle: a root (the file is checked for changes then) or an open key.
bool resolve(RegistryState& registry, HKEY handle, OpenKey& out) {
    if (const char* root = rootName(handle)) {
        refresh(registry);
        out.snapshot = registry.snapshot;
        out.key = findRegTextKey(out.snapshot->tree, root);
        return out.key != nullptr;
    }
    auto it = registry.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == registry.handles.end()) {
        return false;
    }
    out = it->second;
    return true;
}

// `use(registry, key)` with the registry locked and the handle resolved; a handle that is no
// root and not open is ERROR_INVALID_HANDLE.
template <typename Use> LONG withKey(HKEY handle, Use use) {
    RegistryState& registry = state();
    std::lock_guard<std::mutex> lock(registry.mutex);
    OpenKey open;
    if (!resolve(registry, handle, open)) {
        return ERROR_INVALID_HANDLE;
    }
    return use(registry, open);
}

} // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    (void)options;
    (void)desired;
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return withKey(key, [&](RegistryState& registry, const OpenKey& parent) -> LONG {
        if ((subKey == nullptr || subKey[0] == '\0') && rootName(key) != nullptr) {
            *result = key;
            return ERROR_SUCCESS;
        }
        const RegTextKey* found = findRegTextKey(*parent.key, subKey != nullptr ? subKey : "");
        if (found == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        const uintptr_t handle = registry.nextHandle;
        registry.nextHandle += 4;
        registry.handles[handle] = OpenKey{parent.snapshot, found};
        *result = reinterpret_cast<HKEY>(handle);
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return RegOpenKeyExA(key, subKey, 0, KEY_READ, result);
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameCapacity) {
    return withKey(key, [&](RegistryState&, const OpenKey& open) -> LONG {
        if (index >= open.key->subkeys.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const std::string& subName = open.key->subkeys[index].name;
        if (name == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (subName.size() + 1 > nameCapacity) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(name, subName.c_str(), subName.size() + 1);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    (void)reserved;
    if (data != nullptr && dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return withKey(key, [&](RegistryState&, const OpenKey& open) -> LONG {
        const RegTextValue* value =
            findRegTextValue(*open.key, valueName != nullptr ? valueName : "");
        if (value == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        const DWORD size = static_cast<DWORD>(value->data.size());
        if (type != nullptr) {
            *type = value->type;
        }
        if (data == nullptr) {
            if (dataSize != nullptr) {
                *dataSize = size;
            }
            return ERROR_SUCCESS;
        }
        const DWORD capacity = *dataSize;
        *dataSize = size;
        if (size > capacity) {
            return ERROR_MORE_DATA;
        }
        if (size > 0) {
            std::memcpy(data, value->data.data(), size);
        }
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (rootName(key) != nullptr) {
        return ERROR_SUCCESS;
    }
    RegistryState& registry = state();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.handles.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

RegistryFile registryFileInUse() {
    return chooseRegistryFile();
}
