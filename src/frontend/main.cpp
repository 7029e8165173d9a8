#include "frontend/run.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    useUtf8Console();
    return runPlayRecord(argc, argv);
}
