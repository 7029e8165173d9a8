#include "host/driver_list.h"

#include <cstring>
#include <new>

#include "platform/text.h"

namespace {

constexpr DWORD kSubKeyNameBytes = 128;
constexpr DWORD kValueBytes = 256;
constexpr DWORD kServerPathBytes = 512;
constexpr DWORD kClassKeyNameBytes = 512;
constexpr int kWideClassIdChars = 100;

// Reads a value of any type as text. The result is terminated inside the buffer even when
// the stored data carries no terminator or fills the buffer exactly.
bool readText(HKEY key, const char* valueName, char* buffer, DWORD capacity) {
    DWORD type = 0;
    DWORD size = capacity;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer[size < capacity ? size : capacity - 1] = '\0';
    return true;
}

bool enumSubKey(HKEY key, DWORD index, char* name, DWORD capacity) {
    if (RegEnumKeyA(key, index, name, capacity) != ERROR_SUCCESS) {
        return false;
    }
    name[capacity - 1] = '\0';
    return true;
}

} // namespace

int32_t findServerPath(char* classIdText, char* path, uint32_t capacity) {
    int32_t result = -1;
    CharLowerBuffA(classIdText, static_cast<DWORD>(std::strlen(classIdText)));

    HKEY clsidKey = nullptr;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, "clsid", &clsidKey) != ERROR_SUCCESS) {
        return -1;
    }
    char name[kClassKeyNameBytes];
    // A scan rather than an open by name: the comparison ignores letter case on every
    // registry, whatever case the class key was written in.
    for (DWORD i = 0; enumSubKey(clsidKey, i, name, sizeof name); ++i) {
        CharLowerBuffA(name, static_cast<DWORD>(std::strlen(name)));
        if (std::strcmp(name, classIdText) != 0) {
            continue;
        }
        HKEY classKey = nullptr;
        if (RegOpenKeyExA(clsidKey, name, 0, KEY_READ, &classKey) == ERROR_SUCCESS) {
            HKEY serverKey = nullptr;
            if (RegOpenKeyExA(classKey, "InprocServer32", 0, KEY_READ, &serverKey) ==
                ERROR_SUCCESS) {
                // The file named need not exist: an unexpanded path still lists the driver.
                if (capacity > 0 && readText(serverKey, nullptr, path, capacity)) {
                    result = 0;
                }
                RegCloseKey(serverKey);
            }
            RegCloseKey(classKey);
        }
        break;
    }
    RegCloseKey(clsidKey);
    return result;
}

DriverEntry* appendEntry(HKEY key, const char* subKeyName, int32_t index, DriverEntry* list) {
    if (list != nullptr) {
        list->next = appendEntry(key, subKeyName, index + 1, list->next);
        return list;
    }

    HKEY driverKey = nullptr;
    if (RegOpenKeyExA(key, subKeyName, 0, KEY_READ, &driverKey) != ERROR_SUCCESS) {
        return nullptr;
    }
    char value[kValueBytes];
    if (!readText(driverKey, "clsid", value, sizeof value)) {
        RegCloseKey(driverKey);
        return nullptr;
    }
    char serverPath[kServerPathBytes];
    if (findServerPath(value, serverPath, sizeof serverPath) != 0) {
        RegCloseKey(driverKey);
        return nullptr;
    }
    DriverEntry* entry = new (std::nothrow) DriverEntry();
    if (entry == nullptr) {
        RegCloseKey(driverKey);
        return nullptr;
    }
    entry->index = index;

    WCHAR wide[kWideClassIdChars];
    if (MultiByteToWideChar(CP_ACP, 0, value, -1, wide, kWideClassIdChars) > 0) {
        CLSID parsed;
        if (CLSIDFromString(wide, &parsed) == S_OK) {
            std::memcpy(&entry->classId, &parsed, sizeof parsed);
        }
    }

    if (readText(driverKey, "description", value, sizeof value)) {
        copyTruncated(entry->displayName, value);
    } else {
        copyTruncated(entry->displayName, subKeyName);
    }
    RegCloseKey(driverKey);
    return entry;
}

DriverList::DriverList() : entries(nullptr), count(0) {
    HKEY asioKey = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\asio", &asioKey) == ERROR_SUCCESS) {
        char name[kSubKeyNameBytes];
        for (DWORD i = 0; enumSubKey(asioKey, i, name, sizeof name); ++i) {
            entries = appendEntry(asioKey, name, 0, entries);
        }
        RegCloseKey(asioKey);
    }
    for (const DriverEntry* e = entries; e != nullptr; e = e->next) {
        ++count;
    }
    if (count > 0) {
        CoInitialize(nullptr);
    }
}

DriverEntry* DriverList::findEntry(int32_t index) const {
    for (DriverEntry* e = entries; e != nullptr; e = e->next) {
        if (e->index == index) {
            return e;
        }
    }
    return nullptr;
}

int32_t DriverList::copyDriverName(int32_t index, char* destination, uint32_t capacity) const {
    if (destination == nullptr || capacity == 0) {
        return DRV_BadArgument;
    }
    const DriverEntry* entry = findEntry(index);
    if (entry == nullptr) {
        return DRV_NotFound;
    }
    const size_t length = std::strlen(entry->displayName);
    if (length < capacity) {
        std::memcpy(destination, entry->displayName, length + 1);
    } else if (capacity < 4) {
        // No room for the marker: a plain cut.
        std::memcpy(destination, entry->displayName, capacity - 1);
        destination[capacity - 1] = '\0';
    } else {
        std::memcpy(destination, entry->displayName, capacity - 4);
        std::memcpy(destination + capacity - 4, "...", 4);
    }
    return 0;
}

int32_t DriverList::openDriver(int32_t index, IASIO** slot) {
    if (slot == nullptr) {
        return DRV_BadArgument;
    }
    DriverEntry* entry = findEntry(index);
    if (entry == nullptr) {
        return DRV_NotFound;
    }
    if (entry->openInterface != nullptr) {
        return DRV_AlreadyOpen;
    }
    // Drivers answer their class identifier as the interface; some refuse IID_IUnknown.
    const HRESULT hr = CoCreateInstance(entry->classId, nullptr, CLSCTX_INPROC_SERVER,
                                        entry->classId, reinterpret_cast<LPVOID*>(slot));
    if (hr != S_OK) {
        return static_cast<int32_t>(hr);
    }
    entry->openInterface = *slot;
    return 0;
}

int32_t DriverList::closeDriver(int32_t index) {
    DriverEntry* entry = findEntry(index);
    if (entry != nullptr && entry->openInterface != nullptr) {
        entry->openInterface->Release();
        entry->openInterface = nullptr;
    }
    return 0;
}
