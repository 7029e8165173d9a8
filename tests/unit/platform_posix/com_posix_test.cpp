// The COM stand-in's exact answers, including those Wine gives differently.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/asio.h"
#include "platform/posix/com_state_posix.h"
#include "platform/win32.h"
#include "support/registry_fixture.h"
#include "support/test_server.h"

namespace {

CLSID classId(const wchar_t* text) {
    CLSID id{};
    EXPECT_EQ(CLSIDFromString(text, &id), S_OK);
    return id;
}

HRESULT create(const CLSID& clsid, void** object, const IID* iid = nullptr,
               IUnknown* outer = nullptr, DWORD context = CLSCTX_INPROC_SERVER) {
    *object = object; // must come back as nullptr on failure
    return CoCreateInstance(clsid, outer, context, iid != nullptr ? *iid : clsid, object);
}

std::string serverKey(const char* clsid, const std::string& value) {
    return std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + clsid + "\\InprocServer32]\n@=" + value +
           "\n";
}

// The path as REG_EXPAND_SZ bytes, as regedit writes such values.
std::string expandString(const std::string& text) {
    std::string hex = "hex(2):";
    char byte[4];
    for (char c : text) {
        std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
        hex += byte;
    }
    return hex + "00";
}

TEST(CoInitialize, AnswersOkOnceThenFalseAndCountsEveryCall) {
    resetCoInitializeCalls();
    EXPECT_EQ(coInitializeCalls(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(coInitializeCalls(), 3);
    resetCoInitializeCalls();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST(ClassIdentifierText, RefusedTextLeavesAZeroIdentifier) {
    for (const wchar_t* bad : {L"", L"{1B2C3D4E-0001-4A00-8000-00000000000A}x",
                               L"{1B2C3D4E-0001-4A00-8000-00000000000A", L"{}", L"{{"}) {
        CLSID id = classId(L"{1B2C3D4E-0001-4A00-8000-00000000000A}");
        EXPECT_EQ(CLSIDFromString(bad, &id), CO_E_CLASSSTRING);
        EXPECT_TRUE(IsEqualGUID(id, GUID{}));
    }
    CLSID id = classId(L"{1B2C3D4E-0001-4A00-8000-00000000000A}");
    EXPECT_EQ(CLSIDFromString(nullptr, &id), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualGUID(id, GUID{}));
    EXPECT_EQ(CLSIDFromString(L"{1B2C3D4E-0001-4A00-8000-00000000000A}", nullptr), E_INVALIDARG);
}

TEST(CoCreateInstance, FindsServersWhateverTheCaseAndTheValueType) {
    RegistryFixture fixture;
    ASSERT_TRUE(fixture.install(
        "REGEDIT4\n"
        "[HKEY_CLASSES_ROOT\\clsid\\{1b2c3d4e-0001-4a00-8000-00000000000a}\\inprocserver32]\n"
        "@=\"@TEST_SERVER@\"\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\" TEST_SERVER_CLSID_B "\\InprocServer32]\n"
        "@=" +
        expandString(testServerPath()) + "\n"));
    void* object = nullptr;
    ASSERT_EQ(create(classId(L"" TEST_SERVER_CLSID_A), &object), S_OK);
    IASIO* a = static_cast<IASIO*>(object);
    ASSERT_EQ(create(classId(L"" TEST_SERVER_CLSID_B), &object), S_OK);
    IASIO* b = static_cast<IASIO*>(object);
    char name[32];
    a->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver A");
    EXPECT_EQ(a->getDriverVersion(), 1);
    b->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver B");
    EXPECT_EQ(b->getDriverVersion(), 2);
    EXPECT_EQ(testServerLiveObjects(), 2);
    a->Release();
    b->Release();
    // The server stays loaded once its objects are gone.
    EXPECT_EQ(testServerLiveObjects(), 0);
}

TEST(CoCreateInstance, PassesOnEachFailureWithItsOwnCode) {
    RegistryFixture fixture;
    ASSERT_TRUE(fixture.install(
        "REGEDIT4\n" + serverKey(TEST_SERVER_CLSID_A, "\"@TEST_SERVER@\"") +
        serverKey(TEST_SERVER_CLSID_REFUSED, "\"@TEST_SERVER@\"") +
        serverKey("{1B2C3D4E-0009-4A00-8000-000000000009}", "\"@TEST_SERVER@\"") +
        serverKey("{1B2C3D4E-0010-4A00-8000-000000000010}", "\"/nonexistent/server.so\"") +
        serverKey("{1B2C3D4E-0011-4A00-8000-000000000011}", "\"\"") +
        serverKey("{1B2C3D4E-0012-4A00-8000-000000000012}", "\"libm.so.6\"") +
        "[HKEY_CLASSES_ROOT\\CLSID\\{1B2C3D4E-0013-4A00-8000-000000000013}\\InprocServer32]\n"
        "\"ThreadingModel\"=\"Apartment\"\n"));
    const CLSID a = classId(L"" TEST_SERVER_CLSID_A);
    void* object = nullptr;

    EXPECT_EQ(create(classId(L"" TEST_SERVER_CLSID_REFUSED), &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(classId(L"{1B2C3D4E-0009-4A00-8000-000000000009}"), &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(classId(L"{1B2C3D4E-0010-4A00-8000-000000000010}"), &object),
              static_cast<HRESULT>(0x8007007Eu));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(classId(L"{1B2C3D4E-0011-4A00-8000-000000000011}"), &object),
              static_cast<HRESULT>(0x8007007Eu));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(classId(L"{1B2C3D4E-0012-4A00-8000-000000000012}"), &object), CO_E_ERRORINDLL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(classId(L"{1B2C3D4E-0013-4A00-8000-000000000013}"), &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(GUID{}, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    // The factory's own refusals, with no object left behind.
    const int32_t before = testServerLiveObjects();
    EXPECT_EQ(create(a, &object, &IID_IClassFactory), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    int outer = 0;
    EXPECT_EQ(create(a, &object, nullptr, reinterpret_cast<IUnknown*>(&outer)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(testServerLiveObjects(), before);
    EXPECT_EQ(create(a, &object, nullptr, nullptr, 0), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(a, nullptr, CLSCTX_INPROC_SERVER, a, nullptr), E_POINTER);

    ASSERT_EQ(create(a, &object, &IID_IUnknown), S_OK);
    static_cast<IUnknown*>(object)->Release();
}

} // namespace
