// Names of the files the measurements read and write beside each other.
#pragma once

#include <string>

#include "wav/wav_file_name.h"

// The last part of a path, after its last slash or backslash.
std::string baseName(const std::string& path);
