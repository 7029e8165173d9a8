// korvane-wav takes and prints file names as UTF-8 on every target. On Windows its manifest
// makes UTF-8 the process's code page; the console must show it too.
#pragma once

// Sets the console's output code page to UTF-8 for the life of the process and puts the
// previous one back at exit. Does nothing where the console takes UTF-8 anyway.
void useUtf8Console();
