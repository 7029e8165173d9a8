// The trace of a driver's set-up and teardown calls: one line per call, appended to the
// file that its `trace=` key names, so that tests can check what a host did.
#pragma once

#include <cstdarg>

// Appends `line` and a line feed to the file at `path`; nothing when `path` is empty.
// Opens and closes the file each time: these calls are few and never on the streaming path.
// When `path` is a named pipe, the caller is then held until the reader has opened the pipe
// for writing and closed it again, so that a test can act while the driver is at a call.
void driverTrace(const char* path, const char* line);

// The same with printf-style formatting.
void driverTracef(const char* path, const char* format, ...);
void driverTracev(const char* path, const char* format, va_list args);
