// The registry stand-in and the driver list on arbitrary text written as the registry file:
// every key the enumeration names opens again and holds what the parser read, the two views
// of the classes agree, and the driver list is built and named within its limits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "host/driver_list.h"
#include "platform/reg_text.h"
#include "platform/win32.h"

namespace {

std::string registryFile;

// Keys walked per input and depth of the walk: a deep file stays cheap to check.
constexpr int kMaxKeys = 4096;
constexpr int kMaxDepth = 64;

struct Walk {
    size_t nameCapacity;
    int keys = 0;
};

bool hasZero(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

// One value through the three ways of asking: size only, too small a buffer, enough room.
void checkValue(HKEY key, const char* name, const RegTextValue* expected) {
    DWORD type = 0xFFFF;
    DWORD size = 0;
    const LONG sized = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (expected == nullptr) {
        FUZZ_CHECK(sized == ERROR_FILE_NOT_FOUND || sized == ERROR_SUCCESS, sized, 0);
    } else {
        FUZZ_CHECK(sized == ERROR_SUCCESS, sized, 0);
        FUZZ_CHECK(type == expected->type && size == expected->data.size(), type, size);
    }
    if (sized != ERROR_SUCCESS) {
        return;
    }
    std::vector<uint8_t> data(size + 1, 0xEE);
    DWORD capacity = size;
    FUZZ_CHECK(RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &capacity) ==
                       ERROR_SUCCESS &&
                   capacity == size,
               capacity, size);
    FUZZ_CHECK(data[size] == 0xEE, size, 0); // nothing written past the room given
    if (expected != nullptr && size > 0) {
        FUZZ_CHECK(std::memcmp(data.data(), expected->data.data(), size) == 0, size, 0);
    }
    if (size > 0) {
        capacity = size - 1;
        FUZZ_CHECK(RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &capacity) ==
                           ERROR_MORE_DATA &&
                       capacity == size,
                   capacity, size);
    }
}

// The subkey names of an open key, in enumeration order.
std::vector<std::string> subkeyNames(HKEY key, Walk& walk) {
    std::vector<std::string> names;
    std::vector<char> buffer(walk.nameCapacity);
    for (DWORD i = 0;; ++i) {
        const LONG got = RegEnumKeyA(key, i, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == ERROR_NO_MORE_ITEMS) {
            break;
        }
        FUZZ_CHECK(got == ERROR_SUCCESS, got, i);
        // Names may hold zero bytes (from UTF-16 text): take the length the parser gave.
        const std::string name(buffer.data(), std::strlen(buffer.data()));
        names.push_back(name);
        char small[1] = {'x'};
        const LONG tiny = RegEnumKeyA(key, i, small, 1);
        FUZZ_CHECK(tiny == ERROR_MORE_DATA && small[0] == 'x', tiny, i);
    }
    return names;
}

// Walks an open key; expected, when given, is what the parser read for it.
void walkKey(HKEY key, const RegTextKey* expected, int depth, Walk& walk) {
    if (++walk.keys > kMaxKeys || depth > kMaxDepth) {
        return;
    }
    const std::vector<std::string> names = subkeyNames(key, walk);
    if (expected != nullptr) {
        FUZZ_CHECK(names.size() == expected->subkeys.size(), names.size(), depth);
        for (const RegTextValue& value : expected->values) {
            if (!hasZero(value.name)) {
                checkValue(key, value.name.empty() ? nullptr : value.name.c_str(), &value);
            }
        }
    }
    for (const char* name : {"CLSID", "Description", "ThreadingModel"}) {
        checkValue(key, name, nullptr);
    }
    checkValue(key, nullptr, nullptr);
    for (size_t i = 0; i < names.size(); ++i) {
        const RegTextKey* sub = expected != nullptr ? &expected->subkeys[i] : nullptr;
        if (sub != nullptr) {
            FUZZ_CHECK(sub->name.substr(0, sub->name.find('\0')) == names[i], i, depth);
            if (hasZero(sub->name)) {
                continue; // cannot be named through a C string
            }
        }
        if (names[i].empty()) {
            continue; // a name that begins with a zero byte; "" opens the key itself
        }
        HKEY child = nullptr;
        const LONG opened = RegOpenKeyExA(key, names[i].c_str(), 0, KEY_READ, &child);
        if (sub == nullptr && opened == ERROR_FILE_NOT_FOUND) {
            continue; // a name cut at a zero byte, unknown without the parsed key
        }
        FUZZ_CHECK(opened == ERROR_SUCCESS && child != nullptr, opened, i);
        walkKey(child, sub, depth + 1, walk);
        FUZZ_CHECK(RegCloseKey(child) == ERROR_SUCCESS, i, depth);
        FUZZ_CHECK(RegCloseKey(child) == ERROR_INVALID_HANDLE, i, depth);
    }
}

void checkDriverList() {
    DriverList list;
    int32_t listed = 0;
    for (const DriverEntry* e = list.entries; e != nullptr; e = e->next) {
        FUZZ_CHECK(e->index == listed, e->index, listed);
        FUZZ_CHECK(std::memchr(e->displayName, 0, sizeof e->displayName) != nullptr, listed, 0);
        FUZZ_CHECK(e->openInterface == nullptr, listed, 0);
        ++listed;
    }
    FUZZ_CHECK(list.driverCount() == listed, list.driverCount(), listed);
    for (int32_t i = 0; i < listed; ++i) {
        for (uint32_t capacity : {1u, 3u, 4u, 5u, 32u, 128u}) {
            char name[130];
            std::memset(name, 'x', sizeof name);
            FUZZ_CHECK(list.copyDriverName(i, name, capacity) == 0, i, capacity);
            FUZZ_CHECK(std::strlen(name) < capacity && name[capacity] == 'x', i, capacity);
        }
    }
    char name[32];
    FUZZ_CHECK(list.copyDriverName(listed, name, sizeof name) == DRV_NotFound, listed, 0);
    FUZZ_CHECK(list.copyDriverName(0, name, 0) == DRV_BadArgument, 0, 0);
    // The program keeps its one list for its lifetime; here each input's list is freed.
    while (list.entries != nullptr) {
        DriverEntry* next = list.entries->next;
        delete list.entries;
        list.entries = next;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    registryFile = fuzzScratchPath(".reg");
    setenv("KORVANE_REGISTRY", registryFile.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzzWriteFile(registryFile, data, size)) {
        return 0;
    }
    RegTextKey parsed;
    parseRegText(std::string(reinterpret_cast<const char*>(data), size), parsed);
    // UTF-16 text becomes UTF-8 of at most three bytes per two.
    Walk walk{2 * size + 16};

    // The current user's keys are the file's exactly.
    const RegTextKey empty;
    const RegTextKey* user = findRegTextKey(parsed, "HKEY_CURRENT_USER");
    walkKey(HKEY_CURRENT_USER, user != nullptr ? user : &empty, 0, walk);
    walkKey(HKEY_LOCAL_MACHINE, nullptr, 0, walk);

    // HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\SOFTWARE\Classes are one store.
    HKEY classes = nullptr;
    FUZZ_CHECK(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", &classes) == ERROR_SUCCESS, 0,
               0);
    Walk names{walk.nameCapacity};
    FUZZ_CHECK(subkeyNames(classes, names) == subkeyNames(HKEY_CLASSES_ROOT, names), 0, 0);
    RegCloseKey(classes);

    checkDriverList();
    return 0;
}
