#include "support/child_interrupt.h"

const char* childInterruptUnavailable() {
    return nullptr; // signals
}
