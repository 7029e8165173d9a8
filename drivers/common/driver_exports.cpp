// Entry points of a driver's in-process server, and on Windows its self-registration for
// regsvr32. Built into each driver module itself, so that the entry points leave it; the
// only place of the drivers where the targets differ.
#include "driver_server.h"

#ifdef _WIN32
// Exported by name through the module's .def file.
#define DRIVER_EXPORT
#else
#define DRIVER_EXPORT __attribute__((visibility("default")))
#endif

extern "C" DRIVER_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                     void** object) {
    return driverGetClassObject(kModuleDriverClass, clsid, iid, object);
}

extern "C" DRIVER_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return driverCanUnloadNow();
}

#ifdef _WIN32

#include <cstdio>
#include <cwchar>

namespace {

// The three keys of the registration, from the module's class.
struct Keys {
    char asio[160];
    char classKey[64];
    char server[96];

    Keys() {
        const DriverClass& driver = kModuleDriverClass;
        std::snprintf(asio, sizeof asio, "SOFTWARE\\ASIO\\%s", driver.name);
        std::snprintf(classKey, sizeof classKey, "CLSID\\%s", driver.clsidText);
        std::snprintf(server, sizeof server, "CLSID\\%s\\InprocServer32", driver.clsidText);
    }
};

// Registry texts are UTF-8 here and UTF-16 in the registry: the server's path then holds
// names that the registering process's code page cannot spell.
struct Wide {
    wchar_t text[MAX_PATH];
    explicit Wide(const char* utf8) {
        if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, MAX_PATH) == 0) {
            text[0] = L'\0';
        }
    }
};

LONG setString(HKEY root, const char* path, const wchar_t* name, const wchar_t* value) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result;
}

LONG deleteKey(HKEY root, const char* path) {
    const LONG result = RegDeleteKeyA(root, path);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// Any address inside this module finds the module.
const char kModuleAnchor = 0;

} // namespace

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    const Keys keys;
    LONG result = deleteKey(HKEY_CLASSES_ROOT, keys.server); // subkeys go first
    const LONG classResult = deleteKey(HKEY_CLASSES_ROOT, keys.classKey);
    const LONG asioResult = deleteKey(HKEY_LOCAL_MACHINE, keys.asio);
    if (result == ERROR_SUCCESS) {
        result = classResult != ERROR_SUCCESS ? classResult : asioResult;
    }
    return result == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(result);
}

extern "C" HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    // The server is registered under its own full path, wherever it was loaded from.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &kModuleAnchor, &module)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    const Keys keys;
    const DriverClass& driver = kModuleDriverClass;
    LONG result = setString(HKEY_CLASSES_ROOT, keys.classKey, nullptr, Wide(driver.name).text);
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_CLASSES_ROOT, keys.server, nullptr, path);
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_CLASSES_ROOT, keys.server, L"ThreadingModel", L"Apartment");
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_LOCAL_MACHINE, keys.asio, L"CLSID", Wide(driver.clsidText).text);
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_LOCAL_MACHINE, keys.asio, L"Description", Wide(driver.name).text);
    }
    if (result != ERROR_SUCCESS) {
        DllUnregisterServer(); // leave no half registration behind
        return HRESULT_FROM_WIN32(result);
    }
    return S_OK;
}

#endif
