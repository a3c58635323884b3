// The program's mail database: data source "QuorvexServer", by default the
// SQLite file "db/db.sqlite" in the program folder. A configured data
// source of that name (an odbc.ini entry, e.g. for PostgreSQL) wins; where
// none is defined the SQLite file is opened through the "SQLite3" driver.
#pragma once

#include <string>
#include <string_view>

#include "mailmodel/db/Odbc.h"

namespace quorvex {

inline constexpr std::string_view kMailDataSourceName = "QuorvexServer";
inline constexpr std::string_view kSqliteDriverName = "SQLite3";

struct MailDatabaseLogin {
    std::string user;      // [System] ODBCUser
    std::string password;  // [System] ODBCPassword
};

// [System] ODBCUser and ODBCPassword of the published settings.
MailDatabaseLogin MailDatabaseLoginFromSettings();

// "<program folder>/db/db.sqlite".
std::string MailDatabasePath();

// An attribute value for a connection string, in braces when it holds a
// character that would end or start an attribute (';', '{', '}', '=').
std::string ConnectionAttribute(std::string_view value);

// Opens the data source; falls back to the SQLite file when no data source
// of that name is defined.
db::Status OpenMailDatabase(db::Connection& connection, const MailDatabaseLogin& login);

// Creates the SQLite file from the schema script when it does not exist
// yet (folder owner-only). Does nothing for an existing file.
db::Status CreateMailDatabase(const std::string& schema_path, const MailDatabaseLogin& login);

}  // namespace quorvex
