#include "loopback_code_page.h"

unsigned hostCodePage() {
    return 65001; // UTF-8, as every POSIX program here speaks
}
