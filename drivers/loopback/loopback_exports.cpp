// Entry points of the in-process server, and on Windows its self-registration for
// regsvr32. The only place of the driver where the targets differ.
#include "loopback_driver.h"

#ifdef _WIN32
// Exported by name through korvane_loopback.def.
#define LOOPBACK_EXPORT
#else
#define LOOPBACK_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LOOPBACK_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                       void** object) {
    return loopbackGetClassObject(clsid, iid, object);
}

extern "C" LOOPBACK_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return loopbackCanUnloadNow();
}

#ifdef _WIN32

#include <cstring>

namespace {

const char kAsioKey[] = "SOFTWARE\\ASIO\\" LOOPBACK_NAME;
const char kClassKey[] = "CLSID\\" LOOPBACK_CLSID_TEXT;
const char kServerKey[] = "CLSID\\" LOOPBACK_CLSID_TEXT "\\InprocServer32";

LONG setString(HKEY root, const char* path, const char* name, const char* value) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
    return result;
}

LONG deleteKey(HKEY root, const char* path) {
    const LONG result = RegDeleteKeyA(root, path);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

} // namespace

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    LONG result = deleteKey(HKEY_CLASSES_ROOT, kServerKey); // subkeys go first
    const LONG classResult = deleteKey(HKEY_CLASSES_ROOT, kClassKey);
    const LONG asioResult = deleteKey(HKEY_LOCAL_MACHINE, kAsioKey);
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
                            kAsioKey, &module)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return E_FAIL;
    }
    LONG result = setString(HKEY_CLASSES_ROOT, kClassKey, nullptr, LOOPBACK_NAME);
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_CLASSES_ROOT, kServerKey, nullptr, path);
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel", "Apartment");
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_LOCAL_MACHINE, kAsioKey, "CLSID", LOOPBACK_CLSID_TEXT);
    }
    if (result == ERROR_SUCCESS) {
        result = setString(HKEY_LOCAL_MACHINE, kAsioKey, "Description", LOOPBACK_NAME);
    }
    if (result != ERROR_SUCCESS) {
        DllUnregisterServer(); // leave no half registration behind
        return HRESULT_FROM_WIN32(result);
    }
    return S_OK;
}

#endif
