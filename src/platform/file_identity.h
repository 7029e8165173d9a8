// Whether two paths lead to one file. Names cannot tell: another relative path, a link,
// letter case or a short name all reach the same file, so the file system is asked.
#pragma once

// True when both paths open and name the same file (on POSIX the same device and inode;
// on Windows the same volume serial number and file index). False when either cannot be
// opened, so a path that does not exist yet is never the same file as another.
bool sameFile(const char* a, const char* b);
