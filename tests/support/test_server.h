// The in-process test server built for the loader tests: one class per identifier below,
// each object a minimal driver that counts its references.
#pragma once

#include <cstdint>

// Listed names are the object's getDriverName answers; getDriverVersion answers 1, 2, 3.
#define TEST_SERVER_CLSID_A "{1B2C3D4E-0001-4A00-8000-00000000000A}" // "Test Driver A"
#define TEST_SERVER_CLSID_B "{1B2C3D4E-0002-4A00-8000-00000000000B}" // "Test Driver B"
// For tests that must not share registry keys with other test binaries (under Wine every
// unit binary writes into the same prefix, possibly at the same time).
#define TEST_SERVER_CLSID_C "{1B2C3D4E-0004-4A00-8000-00000000000C}" // "Test Driver C"
// A class the server refuses in its factory (CreateInstance fails with E_FAIL).
#define TEST_SERVER_CLSID_REFUSED "{1B2C3D4E-0003-4A00-8000-0000000000EE}"

// Number of server objects alive now (created and not yet released to 0), read from the
// loaded server library; -1 when the server is not loaded in this process.
int32_t testServerLiveObjects();
