#include "host/driver_names.h"

std::string normalisedDriverName(const std::string& name) {
    size_t first = 0;
    size_t last = name.size();
    while (first < last && (name[first] == ' ' || name[first] == '\t')) {
        ++first;
    }
    while (last > first && (name[last - 1] == ' ' || name[last - 1] == '\t')) {
        --last;
    }
    std::string result = name.substr(first, last - first);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

bool driverNameMeant(const std::string& typed, const std::string& listed, const std::string& name) {
    if (typed == name) {
        return false;
    }
    const std::string wanted = normalisedDriverName(name);
    if (normalisedDriverName(typed) == wanted) {
        return true;
    }
    if (typed == listed) {
        return false;
    }
    const std::string kept = normalisedDriverName(typed.substr(0, kCutDriverNameKeeps));
    return normalisedDriverName(listed) == wanted ||
           (wanted.size() > kept.size() && wanted.compare(0, kept.size(), kept) == 0);
}
