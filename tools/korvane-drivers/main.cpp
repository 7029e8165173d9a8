#include "driver_tool.h"

// Driver names stay in the system's code page, as the registry and the drivers have them;
// the console is left as it is (the output reaches it in UTF-16).
int main(int argc, char** argv) {
    return runDriverTool(argc, argv);
}
