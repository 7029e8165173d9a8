// Names of enumerated values, as the companions print them and read them back: one table
// per enumeration, looked up both ways.
#pragma once

#include <cstddef>
#include <cstring>

template <typename T> struct NamedValue {
    T value;
    const char* name;
};

// The name of `value`, or `otherwise` when the table has none.
template <typename T, size_t N>
const char* nameOf(const NamedValue<T> (&table)[N], T value, const char* otherwise) {
    for (const NamedValue<T>& row : table) {
        if (row.value == value) {
            return row.name;
        }
    }
    return otherwise;
}

// The value named `name`; false when the table has no such name.
template <typename T, size_t N>
bool valueNamed(const NamedValue<T> (&table)[N], const char* name, T* value) {
    for (const NamedValue<T>& row : table) {
        if (std::strcmp(row.name, name) == 0) {
            *value = row.value;
            return true;
        }
    }
    return false;
}
