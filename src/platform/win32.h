// The one header through which the code reaches Win32 names. On Windows these are the
// system's own; elsewhere the same names and signatures come from the stand-ins.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mmsystem.h>
#include <objbase.h>
#include <shellapi.h>
#else
#include "platform/posix/win32_api_posix.h"
#endif
