// Class identifiers and in-process object creation, against the stand-in on Linux and
// Wine's COM on Windows. Only class C of the test server is registered here: the other
// classes belong to other test binaries that may run at the same time in the same prefix.
#include <gtest/gtest.h>

#include <cstring>

#include "host/asio.h"
#include "platform/win32.h"
#include "support/registry_fixture.h"
#include "support/test_server.h"

namespace {

int32_t liveObjectsNow() {
    const int32_t live = testServerLiveObjects();
    return live < 0 ? 0 : live;
}

class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT result = CoInitialize(nullptr);
        ASSERT_TRUE(result == S_OK || result == S_FALSE);
    }

    CLSID classId(const wchar_t* text) {
        CLSID id{};
        EXPECT_EQ(CLSIDFromString(text, &id), S_OK);
        return id;
    }

    RegistryFixture fixture;
};

TEST(ClassIdentifiers, ParseBracedHexInEitherCaseAndRefuseOtherText) {
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(L"{1B2C3D4E-0001-4A00-8000-00000000000A}", &id), S_OK);
    EXPECT_EQ(id.Data1, 0x1B2C3D4Eu);
    EXPECT_EQ(id.Data2, 0x0001);
    EXPECT_EQ(id.Data3, 0x4A00);
    const uint8_t tail[8] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(std::memcmp(id.Data4, tail, 8), 0);

    CLSID lower{};
    ASSERT_EQ(CLSIDFromString(L"{1b2c3d4e-0001-4a00-8000-00000000000a}", &lower), S_OK);
    EXPECT_TRUE(IsEqualGUID(id, lower));
    CLSID other{};
    ASSERT_EQ(CLSIDFromString(L"{ABCDEF01-2345-6789-ABCD-EF0123456789}", &other), S_OK);
    EXPECT_EQ(other.Data1, 0xABCDEF01u);
    EXPECT_EQ(other.Data4[7], 0x89);

    for (const wchar_t* bad :
         {L"1B2C3D4E-0001-4A00-8000-00000000000A", L"{1B2C3D4E-0001-4A00-8000-00000000000G}",
          L"{1B2C3D4E-0001-4A00-8000-00000000000}", L"{1B2C3D4E-0001-4A00-8000+00000000000A}",
          L"{1B2C3D4E-0001-4A00-8000-00000000000A"}) {
        CLSID refused{};
        EXPECT_EQ(CLSIDFromString(bad, &refused), CO_E_CLASSSTRING);
    }
}

TEST_F(ComTest, CreatesObjectsOfARegisteredServerAndCountsTheirReferences) {
    ASSERT_TRUE(fixture.install("Windows Registry Editor Version 5.00\r\n"
                                "[HKEY_CLASSES_ROOT\\CLSID\\" TEST_SERVER_CLSID_C
                                "\\InprocServer32]\r\n"
                                "@=\"@TEST_SERVER@\"\r\n"
                                "\"ThreadingModel\"=\"Apartment\"\r\n"));
    const CLSID clsid = classId(L"" TEST_SERVER_CLSID_C);
    const int32_t before = liveObjectsNow();

    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), S_OK);
    ASSERT_NE(object, nullptr);
    IASIO* driver = static_cast<IASIO*>(object);
    char name[32] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver C");
    EXPECT_EQ(driver->getDriverVersion(), 3);
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(testServerLiveObjects(), before + 1);

    void* unknown = nullptr;
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, object);
    void* factory = &unknown;
    EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, &factory), E_NOINTERFACE);
    EXPECT_EQ(factory, nullptr);

    void* second = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &second), S_OK);
    EXPECT_NE(second, object);
    EXPECT_EQ(testServerLiveObjects(), before + 2);
    static_cast<IUnknown*>(second)->Release();

    EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 1u);
    EXPECT_EQ(testServerLiveObjects(), before + 1);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(testServerLiveObjects(), before);
}

TEST_F(ComTest, UnregisteredClassesAndMissingServersFail) {
    ASSERT_TRUE(fixture.install(
        "Windows Registry Editor Version 5.00\r\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{1B2C3D4E-0006-4A00-8000-000000000006}]\r\n"
        "@=\"Class without a server key\"\r\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{1B2C3D4E-0007-4A00-8000-000000000007}\\InprocServer32]\r\n"
        "@=\"@TEST_SERVER@.missing\"\r\n"
        "\"ThreadingModel\"=\"Apartment\"\r\n"));

    void* object = &object;
    CLSID clsid = classId(L"{1B2C3D4E-0005-4A00-8000-000000000005}");
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    object = &object;
    clsid = classId(L"{1B2C3D4E-0006-4A00-8000-000000000006}");
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    // The codes for a library that cannot be loaded differ between systems.
    object = &object;
    clsid = classId(L"{1B2C3D4E-0007-4A00-8000-000000000007}");
    EXPECT_TRUE(FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object)));
    EXPECT_EQ(object, nullptr);
}

} // namespace
