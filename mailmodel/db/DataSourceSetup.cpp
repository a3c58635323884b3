// SQLDataSources lists what the driver manager sees (user and system
// data sources); the installer calls write odbc.ini in the mode chosen
// with SQLSetConfigMode, which is process-wide: set-up runs before any
// other thread uses ODBC, and the mode is put back afterwards.
#include "mailmodel/db/DataSourceSetup.h"

#include <odbcinst.h>
#include <sqlext.h>

#include "common/AsciiCase.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/db/Odbc.h"

namespace quorvex {

namespace {

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::string InstallerError() {
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = "";
    WORD length = 0;
    if (SQLInstallerError(1, &code, message, sizeof message, &length) == SQL_NO_DATA) return "no reason given";
    return message;
}

// Restores the installer's configuration mode when it goes out of scope.
class ConfigModeGuard {
public:
    ConfigModeGuard() {
        if (!SQLGetConfigMode(&previous_)) previous_ = ODBC_BOTH_DSN;
    }
    ~ConfigModeGuard() { SQLSetConfigMode(previous_); }
    ConfigModeGuard(const ConfigModeGuard&) = delete;
    ConfigModeGuard& operator=(const ConfigModeGuard&) = delete;

private:
    UWORD previous_ = ODBC_BOTH_DSN;
};

}  // namespace

bool DataSourceExists(const std::string& name) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) return false;
    const db::Handle environment(SQL_HANDLE_ENV, raw);
    SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR found[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR description[256];
    SQLSMALLINT found_length = 0, description_length = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
        const SQLRETURN rc = SQLDataSources(environment.get(), direction, found, sizeof found, &found_length,
                                            description, sizeof description, &description_length);
        if (!Succeeded(rc)) return false;
        if (EqualsNoCase(reinterpret_cast<const char*>(found), name)) return true;
    }
}

DataSourceRegistration RegisterMailDataSource(const std::string& database_path, std::string* error) {
    const std::string name(kMailDataSourceName);
    const std::string driver(kSqliteDriverName);
    if (database_path.size() > kMaxDataSourceValueLength) {
        if (error != nullptr)
            *error = "the database path is longer than the " + std::to_string(kMaxDataSourceValueLength) +
                     " characters an ODBC ini value holds";
        return DataSourceRegistration::kFailed;
    }
    if (DataSourceExists(name)) return DataSourceRegistration::kAlreadyExists;
    const ConfigModeGuard guard;
    std::string reasons;
    for (const UWORD mode : {UWORD{ODBC_SYSTEM_DSN}, UWORD{ODBC_USER_DSN}}) {
        SQLSetConfigMode(mode);
        if (SQLWriteDSNToIni(name.c_str(), driver.c_str()) &&
            SQLWritePrivateProfileString(name.c_str(), "Database", database_path.c_str(), "odbc.ini"))
            return DataSourceRegistration::kRegistered;
        reasons += (reasons.empty() ? "" : "; ") + std::string(mode == ODBC_SYSTEM_DSN ? "system: " : "user: ") +
                   InstallerError();
    }
    if (error != nullptr) *error = reasons;
    return DataSourceRegistration::kFailed;
}

}  // namespace quorvex
