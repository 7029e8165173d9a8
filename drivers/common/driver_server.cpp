// The class factory is one static object: COM never deletes it, and it counts only server
// locks.
#include "driver_server.h"

#include <cstring>

#include "host/com_query.h"

namespace {

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::atomic<int32_t> liveObjects{0};
std::atomic<int32_t> serverLocks{0};

class DriverFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return answerQuery(static_cast<IClassFactory*>(this),
                           sameGuid(riid, kIidUnknown) || sameGuid(riid, kIidClassFactory), object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        IASIO* driver = driverClass_->create(nullptr);
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = driver->QueryInterface(riid, object);
        driver->Release(); // the caller's reference, if any, is the only one left
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            serverLocks.fetch_add(1);
        } else {
            serverLocks.fetch_sub(1);
        }
        return S_OK;
    }

    const DriverClass* driverClass_ = nullptr; // set before the factory is handed out
};

DriverFactory factory;

} // namespace

bool sameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

HRESULT driverGetClassObject(const DriverClass& driver, REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!sameGuid(clsid, *driver.clsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    factory.driverClass_ = &driver;
    return factory.QueryInterface(iid, object);
}

HRESULT driverCanUnloadNow() {
    return liveObjects.load() == 0 && serverLocks.load() == 0 ? S_OK : S_FALSE;
}

int32_t driverLiveObjects() {
    return liveObjects.load();
}

DriverObject::DriverObject(const GUID& clsid) : clsid_(clsid) {
    liveObjects.fetch_add(1);
}

DriverObject::~DriverObject() {
    liveObjects.fetch_sub(1);
}

HRESULT STDMETHODCALLTYPE DriverObject::QueryInterface(REFIID riid, void** object) {
    return answerQuery(static_cast<IASIO*>(this),
                       sameGuid(riid, kIidUnknown) || sameGuid(riid, clsid_), object);
}

ULONG STDMETHODCALLTYPE DriverObject::AddRef() {
    return references_.fetch_add(1) + 1;
}

ULONG STDMETHODCALLTYPE DriverObject::Release() {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        destroy();
    }
    return left;
}
