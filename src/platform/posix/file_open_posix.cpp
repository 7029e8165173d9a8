#include "platform/file_open.h"

FILE* openFile(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

int removeFile(const char* path) {
    return std::remove(path);
}
