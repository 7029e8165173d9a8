// The in-process server around a driver object: its class, the class factory, the count of
// live objects that decides unloading, and the COM part every driver object shares.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/asio.h"

// What the server of one driver module serves.
struct DriverClass {
    const GUID* clsid; // also the interface identifier hosts ask for
    const char* name;  // the listed name, also the registry's description
    const char* clsidText;
    // A new object holding one reference, or null when memory is short. `config`, when not
    // null, is read at init instead of the driver's environment variable (for tests).
    IASIO* (*create)(const char* config);
};

// The one class of this module, defined by the driver; the exported entry points serve it.
extern const DriverClass kModuleDriverClass;

// Byte for byte, so that no GUID helper of a COM library is needed.
bool sameGuid(const GUID& a, const GUID& b);

// What DllGetClassObject and DllCanUnloadNow answer.
HRESULT driverGetClassObject(const DriverClass& driver, REFCLSID clsid, REFIID iid, void** object);
HRESULT driverCanUnloadNow();

// Driver objects of this module not yet released to 0.
int32_t driverLiveObjects();

// The COM part of a driver object: the driver's class identifier and IUnknown answer
// QueryInterface, and the last Release calls destroy().
class DriverObject : public IASIO {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

protected:
    explicit DriverObject(const GUID& clsid);
    ~DriverObject();
    DriverObject(const DriverObject&) = delete;
    DriverObject& operator=(const DriverObject&) = delete;
    // Ends what runs and deletes the object; called once, by the last Release.
    virtual void destroy() = 0;

private:
    const GUID& clsid_;
    std::atomic<ULONG> references_{1};
};
