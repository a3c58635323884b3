// Registering the mail database as the ODBC data source "QuorvexServer"
// through unixODBC's installer interface. An existing data source of that
// name (a user's or the system's, PostgreSQL say) is the administrator's
// choice and is never replaced.
#pragma once

#include <cstddef>
#include <string>

namespace quorvex {

// unixODBC's ini files hold values of at most this many characters; a
// longer database path would be stored cut, naming another file.
inline constexpr std::size_t kMaxDataSourceValueLength = 1000;

enum class DataSourceRegistration {
    kRegistered,     // written: a system data source, else the user's
    kAlreadyExists,  // one of that name was there; nothing written
    kFailed,         // nothing could be written (`error` says why)
};

// True when the driver manager lists a data source of that name.
bool DataSourceExists(const std::string& name);

// Registers "QuorvexServer" with the SQLite3 driver on the database file,
// unless it exists. A path longer than kMaxDataSourceValueLength is not
// registered (kFailed); the program then opens the file directly.
DataSourceRegistration RegisterMailDataSource(const std::string& database_path, std::string* error = nullptr);

}  // namespace quorvex
