#include "support/child_process.h"

#include <fstream>
#include <sstream>

#include "support/child_process_platform.h"
#include "support/registry_fixture.h"

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    ChildProcess child;
    if (!child.start(argv, options)) {
        return ChildResult{};
    }
    return child.wait();
}

std::string programPath(const std::string& name) {
    return executableDirectory() + kBuiltFileNames.separator + name + kBuiltFileNames.programSuffix;
}

std::string libraryPath(const std::string& name) {
    return executableDirectory() + kBuiltFileNames.separator + name + kBuiltFileNames.librarySuffix;
}
