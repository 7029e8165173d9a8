// The one command line that Windows passes to a new process, from which the C runtime of a
// Windows program splits its argv back unchanged. Plain text, testable everywhere.
#pragma once

#include <string>
#include <vector>

std::string windowsCommandLine(const std::vector<std::string>& argv);
