#include "platform/file_identity.h"

#include <sys/stat.h>

bool sameFile(const char* a, const char* b) {
    struct stat first;
    struct stat second;
    // stat follows symbolic links: a link is the file it leads to.
    if (stat(a, &first) != 0 || stat(b, &second) != 0) {
        return false;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
