// A record as JSON: the spool's file format.
#pragma once

#include <string>

#include "record.h"

std::string recordToJson(const UnitRecord& record);
// False with *error for text that is not a record.
bool recordFromJson(const std::string& text, UnitRecord* record, std::string* error);
