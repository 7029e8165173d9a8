// Files named in UTF-8 on every target: on Windows through the wide calls, which reach a
// name in any script whatever the process's code page.
#pragma once

#include <cstdio>

FILE* openFile(const char* path, const char* mode);
// 0 when removed, as std::remove.
int removeFile(const char* path);
