#include "loopback_code_page.h"

#include "platform/win32.h"

unsigned hostCodePage() {
    return GetACP();
}
