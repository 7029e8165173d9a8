// What the recording writer needs to know of a path before it writes and after a write
// fails: whether something is there, and whether it is a plain file of its own to remove.
#pragma once

enum class FileKind {
    Missing,
    Regular,
    Other, // a folder, a device, anything that is not a plain file
};

FileKind fileKind(const char* path);
