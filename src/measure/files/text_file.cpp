#include "measure/files/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool readTextFile(const std::string& path, std::string* text, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": the file cannot be opened";
        return false;
    }
    text->clear();
    char block[4096];
    for (size_t got; text->size() <= kMostTextFileBytes &&
                     (got = std::fread(block, 1, sizeof block, file)) > 0;) {
        text->append(block, got);
    }
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    if (!read) {
        *error = path + ": the file cannot be read";
    } else if (text->size() > kMostTextFileBytes) {
        *error = path + ": it is larger than 16 MiB, which no such file is";
        text->clear();
        return false;
    }
    return read;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = path + ": it cannot be created (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int reason = errno;
    if (std::fclose(file) != 0 || !written) {
        *error = path + ": it cannot be written (" + std::strerror(written ? errno : reason) + ")";
        std::remove(path.c_str());
        return false;
    }
    return true;
}
