#include "platform/console.h"

// Terminals take the bytes as they come; a UTF-8 locale shows them.
void useUtf8Console() {}
