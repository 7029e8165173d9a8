// The .reg parser on arbitrary text: whatever it accepts must form a tree the look-ups can
// use (names sorted and unique, every key and value found again by its own name), and
// merging must neither lose nor invent anything.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/reg_text.h"

namespace {

bool sameTree(const RegTextKey& a, const RegTextKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size() ||
        a.subkeys.size() != b.subkeys.size()) {
        return false;
    }
    for (size_t i = 0; i < a.values.size(); ++i) {
        const RegTextValue& x = a.values[i];
        const RegTextValue& y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data) {
            return false;
        }
    }
    for (size_t i = 0; i < a.subkeys.size(); ++i) {
        if (!sameTree(a.subkeys[i], b.subkeys[i])) {
            return false;
        }
    }
    return true;
}

// Walks the tree below key, whose path from the root is path; returns the number of keys.
size_t checkKey(const RegTextKey& root, const RegTextKey& key, const std::string& path, int depth) {
    for (size_t i = 0; i < key.values.size(); ++i) {
        const RegTextValue& value = key.values[i];
        FUZZ_CHECK(findRegTextValue(key, value.name) == &value, i, depth);
    }
    size_t keys = 1;
    for (size_t i = 0; i < key.subkeys.size(); ++i) {
        const RegTextKey& sub = key.subkeys[i];
        FUZZ_CHECK(!sub.name.empty(), i, depth);
        FUZZ_CHECK(sub.name.find('\\') == std::string::npos, i, depth);
        if (i > 0) {
            const std::string& before = key.subkeys[i - 1].name;
            FUZZ_CHECK(compareRegNames(before, sub.name) < 0, i, depth);
            FUZZ_CHECK(compareRegNames(sub.name, before) > 0, i, depth);
        }
        const std::string subPath = path.empty() ? sub.name : path + "\\" + sub.name;
        FUZZ_CHECK(findRegTextKey(root, subPath) == &sub, i, depth);
        keys += checkKey(root, sub, subPath, depth + 1);
    }
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    RegTextKey tree;
    tree.name = "left over";
    const bool parsed = parseRegText(bytes, tree);
    if (!parsed) {
        FUZZ_CHECK(tree.name.empty() && tree.values.empty() && tree.subkeys.empty(), 0, 0);
        return 0;
    }
    FUZZ_CHECK(tree.values.empty(), tree.values.size(), 0);
    static const char* const kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                         "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
    for (const RegTextKey& root : tree.subkeys) {
        bool known = false;
        for (const char* name : kRoots) {
            known = known || root.name == name;
        }
        FUZZ_CHECK(known, root.name.size(), 0);
    }
    checkKey(tree, tree, "", 0);

    RegTextKey again;
    FUZZ_CHECK(parseRegText(bytes, again) && sameTree(tree, again), 0, 0);

    // Into nothing, a merge is a copy; into itself it changes nothing.
    RegTextKey copy;
    mergeRegTextKey(copy, tree);
    FUZZ_CHECK(sameTree(copy, tree), 0, 0);
    mergeRegTextKey(copy, tree);
    FUZZ_CHECK(sameTree(copy, tree), 0, 0);
    return 0;
}
