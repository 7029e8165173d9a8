// On Windows the fixture writes the keys into the real registry. It remembers the topmost
// keys it created and the previous state of every value it set in keys that were there
// before, and undoes exactly that: nothing it did not create is deleted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/reg_text.h"
#include "platform/win32.h"
#include "support/registry_fixture.h"
#include "support/registry_fixture_platform.h"

namespace {

struct CreatedKey {
    HKEY root;
    std::string path;
};

struct SavedValue {
    HKEY root;
    std::string path;
    std::string name;
    bool existed;
    DWORD type;
    std::vector<BYTE> data;
};

HKEY rootHandle(const std::string& name) {
    if (name == "HKEY_LOCAL_MACHINE") {
        return HKEY_LOCAL_MACHINE;
    }
    if (name == "HKEY_CURRENT_USER") {
        return HKEY_CURRENT_USER;
    }
    if (name == "HKEY_CLASSES_ROOT") {
        return HKEY_CLASSES_ROOT;
    }
    if (name == "HKEY_USERS") {
        return HKEY_USERS;
    }
    if (name == "HKEY_CURRENT_CONFIG") {
        return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

const char* valueNameOrNull(const std::string& name) {
    return name.empty() ? nullptr : name.c_str();
}

} // namespace

struct RegistryFixture::State {
    std::vector<CreatedKey> created;
    std::vector<SavedValue> saved;

    bool writeValues(HKEY root, const std::string& path, HKEY key, const RegTextKey& from,
                     bool keyIsNew);
    bool writeSubkeys(HKEY root, const std::string& path, HKEY key, const RegTextKey& from,
                      bool keyIsNew);
};

bool RegistryFixture::State::writeValues(HKEY root, const std::string& path, HKEY key,
                                         const RegTextKey& from, bool keyIsNew) {
    for (const RegTextValue& value : from.values) {
        if (!keyIsNew) {
            SavedValue old{root, path, value.name, false, REG_NONE, {}};
            DWORD size = 0;
            if (RegQueryValueExA(key, valueNameOrNull(value.name), nullptr, &old.type, nullptr,
                                 &size) == ERROR_SUCCESS) {
                old.data.resize(size);
                old.existed = RegQueryValueExA(key, valueNameOrNull(value.name), nullptr, &old.type,
                                               old.data.data(), &size) == ERROR_SUCCESS;
                old.data.resize(size);
            }
            saved.push_back(old);
        }
        const LONG result =
            RegSetValueExA(key, valueNameOrNull(value.name), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        if (result != ERROR_SUCCESS) {
            ADD_FAILURE() << "RegSetValueExA(" << path << ", \"" << value.name << "\") failed with "
                          << result;
            return false;
        }
    }
    return true;
}

bool RegistryFixture::State::writeSubkeys(HKEY root, const std::string& path, HKEY key,
                                          const RegTextKey& from, bool keyIsNew) {
    for (const RegTextKey& sub : from.subkeys) {
        const std::string subPath = path.empty() ? sub.name : path + "\\" + sub.name;
        HKEY handle = nullptr;
        DWORD disposition = 0;
        const LONG result =
            RegCreateKeyExA(key, sub.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &handle, &disposition);
        if (result != ERROR_SUCCESS) {
            ADD_FAILURE() << "RegCreateKeyExA(" << subPath << ") failed with " << result;
            return false;
        }
        const bool subIsNew = disposition == REG_CREATED_NEW_KEY;
        if (subIsNew && !keyIsNew) {
            created.push_back(CreatedKey{root, subPath});
        }
        const bool ok = writeValues(root, subPath, handle, sub, subIsNew) &&
                        writeSubkeys(root, subPath, handle, sub, subIsNew);
        RegCloseKey(handle);
        if (!ok) {
            return false;
        }
    }
    return true;
}

RegistryFixture::RegistryFixture() : state(new State) {}

RegistryFixture::~RegistryFixture() {
    remove();
}

bool installRegistryText(RegistryFixture::State& state, const std::string&,
                         const RegTextKey& tree) {
    for (const RegTextKey& rootKey : tree.subkeys) {
        const HKEY root = rootHandle(rootKey.name);
        if (root == nullptr) {
            ADD_FAILURE() << "registry root " << rootKey.name << " is not supported";
            return false;
        }
        if (!state.writeValues(root, "", root, rootKey, false) ||
            !state.writeSubkeys(root, "", root, rootKey, false)) {
            return false;
        }
    }
    return true;
}

void removeRegistryText(RegistryFixture::State& state) {
    for (auto it = state.saved.rbegin(); it != state.saved.rend(); ++it) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(it->root, it->path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            continue;
        }
        if (it->existed) {
            RegSetValueExA(key, valueNameOrNull(it->name), 0, it->type, it->data.data(),
                           static_cast<DWORD>(it->data.size()));
        } else {
            RegDeleteValueA(key, valueNameOrNull(it->name));
        }
        RegCloseKey(key);
    }
    state.saved.clear();
    for (auto it = state.created.rbegin(); it != state.created.rend(); ++it) {
        RegDeleteTreeA(it->root, it->path.c_str());
    }
    state.created.clear();
}

std::string testServerPath() {
    return executableDirectory() + "\\korvane_test_server.dll";
}

std::string systemAnsiCodePage() {
    char page[16] = {};
    DWORD size = sizeof page;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP",
                     RRF_RT_REG_SZ, nullptr, page, &size) != ERROR_SUCCESS) {
        return "";
    }
    return page;
}
