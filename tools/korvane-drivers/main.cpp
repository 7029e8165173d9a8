#include "driver_tool.h"

int main(int argc, char** argv) {
    return runDriverTool(argc, argv);
}
