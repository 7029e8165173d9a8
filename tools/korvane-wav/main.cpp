#include <cstdio>

#include "cli.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    useUtf8Console();
    return korvaneWavMain(argc, argv, stdout, stderr);
}
