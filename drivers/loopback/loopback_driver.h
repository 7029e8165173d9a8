// The loopback driver: a virtual sound card whose every output is wired to the input of
// the same number, configured by the environment variable KORVANE_LOOPBACK.
#pragma once

#include <cstdint>

#include "host/asio.h"

#define LOOPBACK_CLSID_TEXT "{99DFBE55-C03C-4828-AE29-9308FE662EEA}"
#define LOOPBACK_NAME "Korvane Loopback"

// The class identifier, which hosts also pass as the interface identifier.
extern const GUID kLoopbackClsid;

// A new driver object holding one reference, or null when memory is short. `config`, when
// not null, is read at init instead of KORVANE_LOOPBACK (for tests).
IASIO* createLoopbackDriver(const char* config = nullptr);
