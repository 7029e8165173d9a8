// Registry contents in the text form of .reg files, parsed into a tree. The Linux registry
// stand-in reads its file through this; the Windows test fixture writes the parsed keys into
// the real registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RegTextValue {
    std::string name;          // "" for the default value
    uint32_t type;             // REG_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, ...
    std::vector<uint8_t> data; // strings with their terminating zero
};

struct RegTextKey {
    std::string name;
    std::vector<RegTextValue> values; // in order of first appearance
    std::vector<RegTextKey> subkeys;  // sorted by compareRegNames
};

// Fills tree with the file's contents: the tree's subkeys are the root keys named in the
// text, under their full names ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
// "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"; the HKLM-style short forms are
// accepted too). Lines that cannot be understood are skipped. Returns false, with an empty
// tree, when the text does not begin with a .reg header.
bool parseRegText(const std::string& bytes, RegTextKey& tree);

// Case-insensitive comparison of key or value names (ASCII letters folded to upper case,
// as the system sorts); <0, 0 or >0.
int compareRegNames(const std::string& a, const std::string& b);

// Backslash-separated path below from, case-insensitive; empty components are skipped.
// nullptr when a key on the way does not exist.
const RegTextKey* findRegTextKey(const RegTextKey& from, const std::string& path);
RegTextKey* findRegTextKey(RegTextKey& from, const std::string& path);
const RegTextValue* findRegTextValue(const RegTextKey& key, const std::string& name);

// Returns the subkey with that name, creating it in sorted position when missing.
RegTextKey& regTextSubkey(RegTextKey& key, const std::string& name);
// Sets a value, replacing any of the same name.
void setRegTextValue(RegTextKey& key, const RegTextValue& value);
// Merges every key and value of from into into; from's values win.
void mergeRegTextKey(RegTextKey& into, const RegTextKey& from);
