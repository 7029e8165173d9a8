// The COM stand-in: class identifiers, and in-process servers found through the registry
// stand-in and loaded with dlopen. Loaded servers are never unloaded: objects they made may
// still be in use anywhere.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/com_state_posix.h"
#include "platform/posix/win32_api_posix.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

std::atomic<int> initializeCalls{0};

int hexValue(OLECHAR c) {
    if (c >= L'0' && c <= L'9') {
        return static_cast<int>(c - L'0');
    }
    if (c >= L'a' && c <= L'f') {
        return static_cast<int>(c - L'a') + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return static_cast<int>(c - L'A') + 10;
    }
    return -1;
}

// digits hex digits at text[at]; false on any other character (the terminator included).
bool readHex(LPCOLESTR text, int at, int digits, uint32_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        const int value = hexValue(text[at + i]);
        if (value < 0) {
            return false;
        }
        out = (out << 4) | static_cast<uint32_t>(value);
    }
    return true;
}

bool parseGuid(LPCOLESTR text, GUID& guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, checked character by character so that the
    // read stops at the first wrong one and never runs past the terminator.
    if (text[0] != L'{') {
        return false;
    }
    uint32_t value = 0;
    if (!readHex(text, 1, 8, value) || text[9] != L'-') {
        return false;
    }
    guid.Data1 = value;
    if (!readHex(text, 10, 4, value) || text[14] != L'-') {
        return false;
    }
    guid.Data2 = static_cast<uint16_t>(value);
    if (!readHex(text, 15, 4, value) || text[19] != L'-') {
        return false;
    }
    guid.Data3 = static_cast<uint16_t>(value);
    for (int i = 0; i < 2; ++i) {
        if (!readHex(text, 20 + 2 * i, 2, value)) {
            return false;
        }
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    if (text[24] != L'-') {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        if (!readHex(text, 25 + 2 * i, 2, value)) {
            return false;
        }
        guid.Data4[2 + i] = static_cast<uint8_t>(value);
    }
    return text[37] == L'}' && text[38] == L'\0';
}

std::string guidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

// The InprocServer32 default value of the class; false when the class or the value is
// missing.
bool serverPath(const CLSID& clsid, std::string& path) {
    const std::string keyPath = "CLSID\\" + guidText(clsid) + "\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size);
    std::vector<BYTE> data(size + 1u, 0);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, nullptr, nullptr, nullptr, data.data(), &size);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return false;
    }
    data.resize(size);
    path.assign(data.begin(), data.end());
    path.resize(path.find('\0') == std::string::npos ? path.size() : path.find('\0'));
    return true;
}

typedef HRESULT(STDMETHODCALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID, void**);

} // namespace

int coInitializeCalls() {
    return initializeCalls.load();
}

void resetCoInitializeCalls() {
    initializeCalls.store(0);
}

HRESULT CoInitialize(LPVOID reserved) {
    (void)reserved;
    return initializeCalls.fetch_add(1) == 0 ? S_OK : S_FALSE;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (clsid == nullptr) {
        return E_INVALIDARG;
    }
    GUID parsed{};
    if (text == nullptr || !parseGuid(text, parsed)) {
        *clsid = GUID{};
        return CO_E_CLASSSTRING;
    }
    *clsid = parsed;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID* object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    std::string path;
    if ((context & CLSCTX_INPROC_SERVER) == 0 || !serverPath(clsid, path)) {
        return REGDB_E_CLASSNOTREG;
    }
    if (path.empty()) {
        return HRESULT_MOD_NOT_FOUND;
    }
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return HRESULT_MOD_NOT_FOUND;
    }
    void* symbol = dlsym(library, "DllGetClassObject");
    if (symbol == nullptr) {
        return CO_E_ERRORINDLL;
    }
    GetClassObjectFunction getClassObject = nullptr;
    static_assert(sizeof getClassObject == sizeof symbol, "function and data pointers differ");
    std::memcpy(&getClassObject, &symbol, sizeof symbol);

    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result)) {
        return result;
    }
    if (factory == nullptr) {
        return E_NOINTERFACE;
    }
    result = factory->CreateInstance(outer, iid, object);
    factory->Release();
    if (FAILED(result)) {
        *object = nullptr;
    }
    return result;
}
