#include "sql_database.h"

#include <cmath>

SqlValue sqlText(const std::string& text) {
    SqlValue value;
    value.kind = SqlValue::Text;
    value.text = text;
    return value;
}

SqlValue sqlReal(double real) {
    SqlValue value;
    if (std::isfinite(real)) {
        value.kind = SqlValue::Real;
        value.real = real;
    }
    return value;
}

SqlValue sqlInteger(int64_t integer) {
    SqlValue value;
    value.kind = SqlValue::Integer;
    value.integer = integer;
    return value;
}

bool isPostgresTarget(const std::string& target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::unique_ptr<SqlDatabase> openSqlDatabase(const std::string& target, int busyMs,
                                             std::string* error, SqlAccess access) {
    if (isPostgresTarget(target)) {
        return openPostgresDatabase(target, busyMs, error, access);
    }
    return openSqliteDatabase(target, busyMs, error, access);
}

std::string printableTarget(const std::string& target) {
    return isPostgresTarget(target) ? printablePostgresTarget(target) : target;
}

std::string withoutUserInfo(const std::string& uri) {
    const size_t start = uri.find("://") + 3;
    // The last @ of all ends the user part: a password typed with a /, a ? or an @ in it
    // (not percent-encoded) must not be taken for the host or the path.
    const size_t at = uri.rfind('@');
    std::string text =
        at != std::string::npos && at >= start ? uri.substr(0, start) + uri.substr(at + 1) : uri;
    for (size_t key = text.find("password="); key != std::string::npos;
         key = text.find("password=")) {
        const size_t end = text.find('&', key);
        text.erase(key, end == std::string::npos ? std::string::npos : end + 1 - key);
    }
    while (!text.empty() && (text.back() == '&' || text.back() == '?')) {
        text.pop_back();
    }
    return text;
}
