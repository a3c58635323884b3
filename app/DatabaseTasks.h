// The two database tasks of every start: the one-time migration of
// mailboxes kept in the old list format (messages listed in maillist.ini)
// to the mailbox store, and the SQL statements that the administrator
// lists in config.ini ([Database] "Count" and "SQL1", "SQL2", ...).
#pragma once

#include <string>
#include <string_view>

#include "mailmodel/db/Odbc.h"

namespace quorvex::app {

// Opens the mail database and makes its tables from the schema script when
// it has none yet (a new "db/db.sqlite"); an existing database is never
// changed. A failure means the program has no database to work with.
db::Status EnsureMailDatabase(const std::string& schema_path);

// Runs the migration when [System] "Version" is set, not above "5.0" and
// [System] "DBUpgrade1.0" is not yet set. Returns 1; throws a
// std::runtime_error when the database cannot be opened (the program does
// not start, and the migration runs again next time).
// `schema_path` creates a missing database first.
int UpgradeDatabase(const std::string& schema_path);

// In the "mailfolder" table, the row of `account` with uid `old_uid` gets
// `new_uid` (each cut to 140 characters). 1 when the statement ran.
int RewriteMailfolderUid(db::Connection& database, std::string_view account, std::string_view old_uid,
                         std::string_view new_uid);

// Records that the remote message `old_uidl` is now the local message
// `new_number`, in the account's Pop3uidl.ini. 1, or 0 when the account
// folder or the file cannot be reached.
int MigratePop3UidlFile(std::string_view account, std::string_view old_uidl, std::string_view new_number);

// Executes the configured statements in order. 1, or 0 when the database
// did not open or a statement failed; a failed statement ends the list and
// is logged with its number and the database's error.
int RunDatabaseScripts();

}  // namespace quorvex::app
