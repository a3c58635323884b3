// unixODBC reads ODBCINI once per process, so the data-source file is
// chosen before the first ODBC call. Its installer calls read and write
// odbc.ini in the mode chosen with SQLSetConfigMode, which is
// process-wide: this runs before any other thread uses ODBC, and the mode
// is put back afterwards.
#include "mailmodel/db/DataSourceSetup.h"

#include <odbcinst.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <cstdlib>

#include "common/AsciiCase.h"
#include "common/Paths.h"
#include "mailmodel/db/MailDatabase.h"

namespace quorvex {

namespace {

constexpr std::string_view kDataSourceFileName = "odbc.ini";
constexpr std::string_view kDatabaseTail = "/db/db.sqlite";
// Stands for a user data-source file without entries: with a system entry
// the folder's file must not hide it (unixODBC prefers the user's).
constexpr const char* kNoUserDataSources = "/dev/null";

// Restores the installer's configuration mode when it goes out of scope.
class ConfigModeGuard {
public:
    explicit ConfigModeGuard(UWORD mode) {
        if (!SQLGetConfigMode(&previous_)) previous_ = ODBC_BOTH_DSN;
        SQLSetConfigMode(mode);
    }
    ~ConfigModeGuard() { SQLSetConfigMode(previous_); }
    ConfigModeGuard(const ConfigModeGuard&) = delete;
    ConfigModeGuard& operator=(const ConfigModeGuard&) = delete;

private:
    UWORD previous_ = ODBC_BOTH_DSN;
};

std::string InstallerError() {
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = "";
    WORD length = 0;
    if (SQLInstallerError(1, &code, message, sizeof message, &length) == SQL_NO_DATA) return "no reason given";
    return message;
}

std::string ReadValue(const std::string& section, const char* key) {
    char value[kMaxDataSourceValueLength + 24] = "";
    SQLGetPrivateProfileString(section.c_str(), key, "", value, sizeof value, kDataSourceFileName.data());
    return value;
}

// The entry of `name` in the data-source file of `mode`.
std::optional<DataSourceEntry> ReadEntry(UWORD mode, const std::string& name) {
    const ConfigModeGuard guard(mode);
    char keys[4096] = "";
    // Without a key the call lists the section's keys: none, no section.
    if (SQLGetPrivateProfileString(name.c_str(), nullptr, "", keys, sizeof keys, kDataSourceFileName.data()) <= 0 ||
        keys[0] == '\0')
        return std::nullopt;
    return DataSourceEntry{ReadValue(name, "Driver"), ReadValue(name, "Database")};
}

std::string_view WithoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

bool SameFolder(const std::string& a, const std::string& b) {
    if (WithoutTrailingSlashes(a) == WithoutTrailingSlashes(b)) return true;
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string SystemDataSourceFile() {
    const char* folder = std::getenv("ODBCSYSINI");
    return JoinPath(folder != nullptr && *folder != '\0' ? folder : "/etc", kDataSourceFileName);
}

}  // namespace

std::optional<DataSourceEntry> SystemDataSource(std::string_view name) {
    return ReadEntry(ODBC_SYSTEM_DSN, std::string(name));
}

std::optional<std::string> OtherProgramFolderOf(const std::string& database, const std::string& own_folder) {
    const std::string_view path(database);
    if (path.size() <= kDatabaseTail.size() || path.substr(path.size() - kDatabaseTail.size()) != kDatabaseTail)
        return std::nullopt;
    const std::string folder(path.substr(0, path.size() - kDatabaseTail.size()));
    if (SameFolder(folder, own_folder)) return std::nullopt;
    return folder;
}

std::optional<ProgramDataSource> UseProgramDataSource(const std::string& program_folder, std::string* error) {
    const std::string name(kMailDataSourceName);
    ProgramDataSource chosen;
    if (const auto system = SystemDataSource(name)) {
        ::setenv("ODBCINI", kNoUserDataSources, 1);
        chosen.system = true;
        chosen.database = system->database;
        if (const auto other = OtherProgramFolderOf(system->database, program_folder)) {
            chosen.warning = "Warning: the ODBC data source " + name + " of the system (" + SystemDataSourceFile() +
                             ") names the database " + system->database + " of the program folder " + *other +
                             ", so this program folder uses that folder's mail database. Remove the entry from " +
                             SystemDataSourceFile() + " to give every program folder its own.";
        }
        return chosen;
    }

    const std::string file = JoinPath(program_folder, kFolderDataSourceFile);
    const std::string database = JoinPath(program_folder, "db", "db.sqlite");
    if (database.find_first_of("\r\n") != std::string::npos || database.size() > kMaxDataSourceValueLength) {
        if (error != nullptr)
            *error = "The mail database " + database + " cannot be named in the ODBC data-source file " + file +
                     ": its path holds a line break or is longer than " +
                     std::to_string(kMaxDataSourceValueLength) + " characters. Move the program folder.";
        return std::nullopt;
    }
    ::setenv("ODBCINI", file.c_str(), 1);
    chosen.database = database;
    const auto entry = ReadEntry(ODBC_USER_DSN, name);
    std::optional<std::string> other;
    if (entry) {
        // The folder's own entry, copied along with the folder, names the
        // original's database; any other entry is the administrator's.
        if (!EqualsNoCase(entry->driver, kSqliteDriverName) ||
            !(other = OtherProgramFolderOf(entry->database, program_folder))) {
            chosen.database = entry->database;
            return chosen;
        }
    }
    const ConfigModeGuard guard(ODBC_USER_DSN);
    const bool written = (entry || SQLWriteDSNToIni(name.c_str(), std::string(kSqliteDriverName).c_str())) &&
                         SQLWritePrivateProfileString(name.c_str(), "Database", database.c_str(),
                                                      kDataSourceFileName.data());
    if (!written) {
        if (error != nullptr)
            *error = "The ODBC data source " + name + " could not be written to " + file + ": " + InstallerError();
        return std::nullopt;
    }
    chosen.written = true;
    if (other) {
        chosen.warning = "The ODBC data source " + name + " in " + file + " named the database " + entry->database +
                         " of the program folder " + *other + "; it now names this folder's " + database + ".";
    }
    return chosen;
}

}  // namespace quorvex
