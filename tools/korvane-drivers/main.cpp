#include "driver_tool.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    useUtf8Console();
    return runDriverTool(argc, argv);
}
