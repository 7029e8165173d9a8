#include "platform/file_open.h"

#include "platform/win32/utf16_win32.h"

FILE* openFile(const char* path, const char* mode) {
    return _wfopen(widen(path, CP_UTF8).c_str(), widen(mode, CP_UTF8).c_str());
}

int removeFile(const char* path) {
    return _wremove(widen(path, CP_UTF8).c_str());
}
