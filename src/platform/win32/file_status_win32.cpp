#include "platform/file_status.h"
#include "platform/win32.h"
#include "platform/win32/utf16_win32.h"

FileKind fileKind(const char* path) {
    const DWORD attributes = GetFileAttributesW(widen(path, CP_UTF8).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return FileKind::Missing;
    }
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    return (attributes & notPlain) == 0 ? FileKind::Regular : FileKind::Other;
}
