// A text file's lines, such as a driver's trace: one line per set-up and teardown call.
#pragma once

#include <string>
#include <vector>

// The lines without their line ends (a line feed, or a carriage return and line feed); none
// when the file cannot be read.
std::vector<std::string> readLines(const std::string& path);
