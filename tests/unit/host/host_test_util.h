// Registry texts, a loaded fake driver and clean-up shared by the driver list, loader and
// host call tests.
#pragma once

#include <cstring>
#include <string>

#include "engine/run_state.h"
#include "host/driver_list.h"
#include "host/driver_manager.h"
#include "support/fake_driver.h"
#include "support/registry_fixture.h"

// Order-dependent key names hold letters, digits and blanks only: the systems fold
// punctuation differently when they sort.
inline std::string regHeader() {
    return "Windows Registry Editor Version 5.00\n\n";
}

// A driver key; clsidLine and descriptionLine are whole value lines or empty.
inline std::string driverKey(const std::string& name, const std::string& clsidLine,
                             const std::string& descriptionLine = "") {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" + name + "]\n" + clsidLine + descriptionLine +
           "\n";
}

inline std::string clsidLine(const std::string& classId) {
    return "\"CLSID\"=\"" + classId + "\"\n";
}

inline std::string descriptionLine(const std::string& text) {
    return "\"Description\"=\"" + regEscape(text) + "\"\n";
}

// The bytes of text as a binary value, without a terminator.
inline std::string binaryLine(const std::string& valueName, const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string line = "\"" + valueName + "\"=hex:";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        line += i == 0 ? "" : ",";
        line += digits[c >> 4];
        line += digits[c & 15];
    }
    return line + "\n";
}

// A class registration; path is the server path as stored (not escaped yet).
inline std::string classKey(const std::string& classId, const std::string& path = "@TEST_SERVER@") {
    return "[HKEY_CLASSES_ROOT\\CLSID\\" + classId + "\\InprocServer32]\n@=\"" + regEscape(path) +
           "\"\n\"ThreadingModel\"=\"Apartment\"\n\n";
}

inline std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The list is never destroyed by the program; tests free what they built.
inline void discardEntries(DriverList& list) {
    while (list.entries != nullptr) {
        DriverEntry* next = list.entries->next;
        delete list.entries;
        list.entries = next;
    }
    list.count = 0;
}

// Makes the fake the manager's loaded driver, as a successful load would.
inline void holdInManager(DriverManager& manager, FakeDriver& fake) {
    DriverEntry* entry = new DriverEntry();
    entry->index = manager.count;
    std::strcpy(entry->displayName, "Fake Driver");
    entry->openInterface = &fake;
    DriverEntry** tail = &manager.entries;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = entry;
    ++manager.count;
    manager.currentIndex = entry->index;
    driverManager = &manager;
    currentDriver = &fake;
}
