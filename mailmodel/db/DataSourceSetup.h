// The mail database's ODBC data source "QuorvexServer". Each program folder
// has its own: the entry lives in "odbc.ini" of the program folder, which
// the program makes unixODBC's user data-source file (ODBCINI) for itself
// before it uses ODBC, so the database path never travels in a connection
// string and any character a folder name may hold works. A data source of
// that name in the system's odbc.ini (PostgreSQL, say) is the
// administrator's choice: it wins, and the folder's file is not read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// unixODBC's ini files hold values of at most this many characters; a
// longer database path would be stored cut, naming another file.
inline constexpr std::size_t kMaxDataSourceValueLength = 1000;

// "odbc.ini" in the program folder.
inline constexpr std::string_view kFolderDataSourceFile = "odbc.ini";

// What a data-source entry names.
struct DataSourceEntry {
    std::string driver;
    std::string database;
};

// The system's entry of that name ($ODBCSYSINI/odbc.ini, else
// /etc/odbc.ini); nothing when it has none.
std::optional<DataSourceEntry> SystemDataSource(std::string_view name);

// The program folder that holds a database file at "<folder>/db/db.sqlite",
// when `database` names one and it is not `own_folder`'s.
std::optional<std::string> OtherProgramFolderOf(const std::string& database, const std::string& own_folder);

struct ProgramDataSource {
    bool system = false;   // the system's entry is used
    std::string database;  // the Database its entry names
    bool written = false;  // the folder's entry was written at this call
    // For the system log and standard error, or empty: the entry in use
    // names (or named) the database of another program folder.
    std::string warning;
};

// Chooses the data source for the program folder; called once at start-up,
// before anything in the process uses ODBC. Without a system entry the
// folder's odbc.ini gets an entry for "<folder>/db/db.sqlite" with the
// SQLite3 driver when it has none, or when its entry names the database of
// another program folder (a copied folder). Nothing, with `error` set, when
// the folder's database path cannot be stored in an ini file (a line break,
// or longer than kMaxDataSourceValueLength) or the file cannot be written.
std::optional<ProgramDataSource> UseProgramDataSource(const std::string& program_folder, std::string* error);

}  // namespace quorvex
