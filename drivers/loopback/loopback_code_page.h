// The code page in which the host hands the driver its names and texts: the process's ANSI
// code page on Windows, UTF-8 elsewhere.
#pragma once

unsigned hostCodePage();
