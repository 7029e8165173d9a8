// The in-process server's class factory. It is one static object: COM never deletes it,
// and it counts only server locks.
#include <atomic>

#include "loopback_driver.h"

namespace {

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::atomic<int32_t> serverLocks{0};

class LoopbackFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (loopbackSameGuid(riid, kIidUnknown) || loopbackSameGuid(riid, kIidClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
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
        IASIO* driver = createLoopbackDriver();
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
};

LoopbackFactory factory;

} // namespace

HRESULT loopbackGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!loopbackSameGuid(clsid, kLoopbackClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, object);
}

HRESULT loopbackCanUnloadNow() {
    return loopbackLiveObjects() == 0 && serverLocks.load() == 0 ? S_OK : S_FALSE;
}
