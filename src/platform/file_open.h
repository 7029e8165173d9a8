// Files named in UTF-8 on every target: on Windows through the wide calls, which reach a
// name in any script whatever the process's code page.
#pragma once

#include <cstdio>
#include <string>

FILE* openFile(const char* path, const char* mode);
// 0 when removed, as std::remove.
int removeFile(const char* path);

// Writes text to a new file at path and has the system put it on the disk before this
// returns true: after a power cut the file holds all of it, or the rename that follows
// never happened. On failure nothing is left; *error holds the system's reason.
bool writeFileDurably(const char* path, const std::string& text, std::string* error);
// Puts a folder's entries (a rename within it) on the disk; true where the system does it
// with the rename itself.
bool syncFolder(const char* path);
