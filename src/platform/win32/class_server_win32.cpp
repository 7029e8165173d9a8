#include "platform/class_server.h"

#include "platform/text_out.h"
#include "platform/win32.h"
#include "platform/win32/utf16_win32.h"

std::string classServerPathUtf8(const std::string& classIdText, const std::string& ansi) {
    const std::wstring key = widen("CLSID\\" + classIdText + "\\InprocServer32", CP_ACP);
    wchar_t path[1024];
    DWORD bytes = sizeof path;
    // As written: an unexpanded path is shown unexpanded.
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr,
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, path,
                     &bytes) != ERROR_SUCCESS) {
        return ansiToUtf8(ansi.c_str());
    }
    return narrow(path, CP_UTF8);
}
