#include "loopback_timer.h"

#include "platform/win32.h"

void loopbackFineTimer(bool fine) {
    if (fine) {
        timeBeginPeriod(1);
    } else {
        timeEndPeriod(1);
    }
}
