#include <cstdio>

#include "cli.h"

int main(int argc, char** argv) {
    return korvaneWavMain(argc, argv, stdout, stderr);
}
