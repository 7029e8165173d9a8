#include "platform/file_identity.h"

#include "platform/win32.h"
#include "platform/win32/utf16_win32.h"

namespace {
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// Opened for its attributes only, sharing everything, so that a file another program
// holds open is still identified; folders need the backup-semantics flag to open at all.
bool identify(const char* path, FileIdentity* identity) {
    HANDLE file = CreateFileW(widen(path, CP_UTF8).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (known == 0) {
        return false;
    }
    *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}
} // namespace

bool sameFile(const char* a, const char* b) {
    FileIdentity first;
    FileIdentity second;
    if (!identify(a, &first) || !identify(b, &second)) {
        return false;
    }
    return first.volume == second.volume && first.indexHigh == second.indexHigh &&
           first.indexLow == second.indexLow;
}
