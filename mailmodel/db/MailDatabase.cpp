// Opening and creating the mail database.
#include "mailmodel/db/MailDatabase.h"

#include <unistd.h>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "common/TextHelpers.h"

namespace quorvex {

MailDatabaseLogin MailDatabaseLoginFromSettings() {
    const auto settings = Settings();
    return {settings->ODBCUser, settings->ODBCPassword};
}

std::string MailDatabasePath() { return JoinPath(ProgramFolder(), "db", "db.sqlite"); }

std::string ConnectionAttribute(std::string_view value) {
    const bool plain = value.find_first_of(";{}=") == std::string_view::npos &&
                       (value.empty() || (value.front() != ' ' && value.back() != ' '));
    if (plain) return std::string(value);
    std::string out = "{";
    for (const char c : value) {
        out.push_back(c);
        if (c == '}') out.push_back('}');
    }
    out.push_back('}');
    return out;
}

db::Status OpenMailDatabase(db::Connection& connection, const MailDatabaseLogin& login) {
    const std::string credentials =
        ";UID=" + ConnectionAttribute(login.user) + ";PWD=" + ConnectionAttribute(login.password);
    db::Status status = connection.Open("DSN=" + std::string(kMailDataSourceName) + credentials);
    if (status || status.state != "IM002") return status;
    // No data source defined: the SQLite file directly. The driver takes
    // the path only as it is, so one that a connection string would have
    // to quote needs the data source.
    const std::string path = MailDatabasePath();
    if (ConnectionAttribute(path) != path) {
        return db::Status{"the data source " + std::string(kMailDataSourceName) + " is not defined, and " + path +
                              " cannot be given to the SQLite3 driver in a connection string",
                          status.state};
    }
    return connection.Open("DRIVER=" + std::string(kSqliteDriverName) + ";Database=" + path + credentials);
}

db::Status CreateMailDatabase(const std::string& schema_path, const MailDatabaseLogin& login,
                              const std::vector<std::string>& searched) {
    const std::string path = MailDatabasePath();
    const bool new_file = !FileExists(path);
    if (new_file && !MakeFolders(std::string(DirName(path))))
        return db::Status{"cannot create the database folder", ""};
    db::Connection connection;
    if (db::Status status = OpenMailDatabase(connection, login); !status) return status;
    // A database that has the mail table is left as it is.
    if (connection.Execute("SELECT 1 FROM mailfolder WHERE 1 = 0")) return {};
    std::string script;
    // An empty path: the program found no schema file to name.
    const std::string schema = !schema_path.empty() ? schema_path
                               : "the database schema schema.sql (not found" +
                                     (searched.empty() ? "" : " in " + JoinTexts(searched, " or ")) + ")";
    db::Status created = !schema_path.empty() && ReadWholeFile(schema_path, script)
                             ? connection.ExecuteScript(script)
                             : db::Status{"cannot read " + schema, ""};
    connection.Close();
    // Nothing half made stays behind: the next start tries again.
    if (!created && new_file) ::unlink(path.c_str());
    return created;
}

}  // namespace quorvex
