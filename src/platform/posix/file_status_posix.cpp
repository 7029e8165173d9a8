#include <sys/stat.h>

#include "platform/file_status.h"

FileKind fileKind(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) {
        return FileKind::Missing;
    }
    return (info.st_mode & S_IFMT) == S_IFREG ? FileKind::Regular : FileKind::Other;
}
