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
