#include "platform/class_server.h"

std::string classServerPathUtf8(const std::string&, const std::string& ansi) {
    return ansi;
}
