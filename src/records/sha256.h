// SHA-256 of a byte string or a file, as 64 lowercase hex digits: what names a played file
// and a limits file in a record, whatever their names.
#pragma once

#include <string>

std::string sha256Hex(const std::string& bytes);
// False with *error when the file cannot be read.
bool sha256File(const std::string& path, std::string* hex, std::string* error);
