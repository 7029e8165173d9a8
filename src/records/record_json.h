// A record as JSON: the spool's file format.
#pragma once

#include <string>

#include "record.h"

std::string recordToJson(const UnitRecord& record);
// Each record carries the SHA-256 of its content: a record edited after it was spooled is
// told apart. False with *error for text that is not a record, or whose digest differs.
bool recordFromJson(const std::string& text, UnitRecord* record, std::string* error);
