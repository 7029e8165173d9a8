// Built instead of the libpq backend where the build has no libpq (the Windows build).
#include "sql_database.h"

bool postgresBuiltIn() {
    return false;
}

std::string printablePostgresTarget(const std::string& uri) {
    return withoutUserInfo(uri);
}

std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string&, int, std::string* error,
                                                  SqlAccess) {
    *error = "this korvane-wav was built without PostgreSQL: log to an SQLite file";
    return nullptr;
}
