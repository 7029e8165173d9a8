// A server URI as a person may type it, USER:PASSWORD@ and anything after: what is printed
// of it never holds the password, whatever the rest holds (another @, a / or a % in it, a
// bad port, parameters), and nothing aborts.
#include <string>

#include "fuzz_support.h"
#include "records/sql_database.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string password = "Pw0rdTok";
    const size_t split = input.find('\n');
    const std::string secret =
        password + (split == std::string::npos ? std::string() : input.substr(0, split));
    const std::string after = split == std::string::npos ? input : input.substr(split + 1);
    if (after.find('@') == std::string::npos || input.find(password) != std::string::npos) {
        return 0; // no user part, or the token written again by the input itself
    }
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        const std::string uri = scheme + std::string("st:") + secret + after;
        const std::string printed = printableTarget(uri);
        FUZZ_CHECK(printed.find(password) == std::string::npos, uri.size(), printed.size());
        FUZZ_CHECK(printed.rfind(scheme, 0) == 0, printed.size(), 0);
    }
    return 0;
}
