#include <string>
#include <vector>

#include "frontend/command_line.h"
#include "frontend/run.h"
#include "platform/text_out.h"

// The files may be named in any script: their arguments are taken as UTF-8. The driver's
// name stays in the system's code page, as the registry and the drivers have it, and the
// console is left as it is (the output reaches it in UTF-16).
int main(int argc, char** argv) {
    std::vector<std::string> utf8 = utf8Arguments(argc, argv);
    std::vector<char*> arguments(argv, argv + argc);
    if (argc == kArgumentCount) {
        arguments[kPlayFileArgument] = &utf8[kPlayFileArgument][0];
        arguments[kRecordFileArgument] = &utf8[kRecordFileArgument][0];
    }
    arguments.push_back(nullptr);
    return runPlayRecord(argc, arguments.data());
}
