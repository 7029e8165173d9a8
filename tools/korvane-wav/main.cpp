#include <cstdio>

#include "cli.h"
#include "platform/console.h"
#include "platform/memory.h"

int main(int argc, char** argv) {
    useUtf8Console();
    keepFreedMemory();
    return korvaneWavMain(argc, argv, stdout, stderr);
}
