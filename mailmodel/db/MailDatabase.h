// The program's mail database: data source "QuorvexServer", by default the
// SQLite file "db/db.sqlite" in the program folder. A configured data
// source of that name (an odbc.ini entry, e.g. for PostgreSQL) wins; where
// none is defined the SQLite file is opened through the "SQLite3" driver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
// of that name is defined (and its path needs no quoting).
db::Status OpenMailDatabase(db::Connection& connection, const MailDatabaseLogin& login);

// Opens the data source and gives it the tables of the schema script when
// it has no table "mailfolder" yet (a new SQLite file is made in an
// owner-only folder). A database that has it is left as it is; a new file
// whose tables could not be made is removed again. An empty schema path
// means the program found no schema file in the folders `searched`, which
// the reason then names.
db::Status CreateMailDatabase(const std::string& schema_path, const MailDatabaseLogin& login,
                              const std::vector<std::string>& searched = {});

}  // namespace quorvex
