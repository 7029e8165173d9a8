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
                                             std::string* error) {
    if (isPostgresTarget(target)) {
        return openPostgresDatabase(target, busyMs, error);
    }
    return openSqliteDatabase(target, busyMs, error);
}

std::string printableTarget(const std::string& target) {
    if (!isPostgresTarget(target)) {
        return target;
    }
    std::string text = target;
    const size_t start = text.find("://") + 3;
    const size_t at = text.find('@', start);
    const size_t colon = text.find(':', start);
    if (at != std::string::npos && colon < at && text.find('/', start) > at) {
        text.replace(colon + 1, at - colon - 1, "***");
    }
    for (size_t key = text.find("password="); key != std::string::npos;
         key = text.find("password=", key + 1)) {
        const size_t end = text.find('&', key);
        text.replace(key + 9, (end == std::string::npos ? text.size() : end) - key - 9, "***");
    }
    return text;
}
