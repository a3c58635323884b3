// Opening and creating the mail database.
#include "mailmodel/db/MailDatabase.h"

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"

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
    return connection.Open("DRIVER=" + std::string(kSqliteDriverName) +
                           ";Database=" + ConnectionAttribute(MailDatabasePath()) + credentials);
}

db::Status CreateMailDatabase(const std::string& schema_path, const MailDatabaseLogin& login) {
    const std::string path = MailDatabasePath();
    if (FileExists(path)) return {};
    std::string script;
    if (!ReadWholeFile(schema_path, script)) return db::Status{"cannot read " + schema_path, ""};
    if (!MakeFolders(std::string(DirName(path)))) return db::Status{"cannot create the database folder", ""};
    db::Connection connection;
    if (db::Status status = OpenMailDatabase(connection, login); !status) return status;
    return connection.ExecuteScript(script);
}

}  // namespace quorvex
