#include "frontend/run.h"

#include <cstdio>

#include "frontend/command_line.h"
#include "frontend/exit_codes.h"

int runPlayRecord(int argc, char** argv) {
    (void)argv;
    printBanner(stdout);
    if (argc != kArgumentCount) {
        printUsage(stdout);
        return kExitUsage;
    }
    return kExitDone;
}
