// Korvane JACK: a JACK client inside, the driver interface outside, so that korvane plays
// and records a real card's channels on Linux through a JACK server (JACK2, or PipeWire's
// JACK library). Configured by the environment variable KORVANE_JACK.
#pragma once

#include "host/asio.h"

#define JACK_DRIVER_CLSID_TEXT "{8470D717-B887-4063-B236-DA6D5EB98914}"
#define JACK_DRIVER_NAME "Korvane JACK"

// The class identifier, which hosts also pass as the interface identifier.
extern const GUID kJackDriverClsid;

// A new driver object holding one reference, or null when memory is short. `config`, when
// not null, is read at init instead of KORVANE_JACK (for tests).
IASIO* createJackDriver(const char* config = nullptr);

// What a channel is called: the JACK port it connects to, cut at the front to fit the
// interface's 32 bytes, since a port's name ends in what tells it apart.
void jackChannelName(const char* port, char* name, size_t capacity);
