#include "platform/file_open.h"

#include "platform/win32/utf16_win32.h"

FILE* openFile(const char* path, const char* mode) {
    return _wfopen(widen(path, CP_UTF8).c_str(), widen(mode, CP_UTF8).c_str());
}

int removeFile(const char* path) {
    return _wremove(widen(path, CP_UTF8).c_str());
}

bool writeFileDurably(const char* path, const std::string& text, std::string* error) {
    const HANDLE file = CreateFileW(widen(path, CP_UTF8).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "the system refused to create it (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD wrote = 0;
    const bool written =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) != 0 &&
        wrote == text.size() && FlushFileBuffers(file) != 0;
    const DWORD reason = GetLastError();
    CloseHandle(file);
    if (!written) {
        *error = "it could not be written (error " + std::to_string(reason) + ")";
        _wremove(widen(path, CP_UTF8).c_str());
    }
    return written;
}

bool syncFolder(const char*) {
    return true; // NTFS journals the rename with the folder's entries
}
