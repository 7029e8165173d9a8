// The file registered as a class's in-process server, for showing: on Windows read as wide
// text, so that a folder named outside the ANSI code page keeps its letters.
#pragma once

#include <string>

// UTF-8; `ansi` (the path as the narrow registry calls gave it) where the wide read fails,
// and on the stand-ins, which speak UTF-8 anyway.
std::string classServerPathUtf8(const std::string& classIdText, const std::string& ansi);
