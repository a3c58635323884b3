// The program folder's own ODBC data source: any character a folder name
// may hold reaches the driver, and which entry wins where several could.
// unixODBC keeps what it read for the life of a process, so every row runs
// in a child process of its own.
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "OdbcTestSupport.h"
#include "common/ServerSettings.h"
#include "mailmodel/db/DataSourceSetup.h"
#include "mailmodel/db/MailDatabase.h"

namespace quorvex {
namespace {

using testing::OdbcConfig;

// Runs `row` in a forked child; true when it reported nothing (it prints
// what it reports).
bool InChild(const std::function<std::string()>& row) {
    if (::fork() == 0) {
        const std::string report = row();
        if (!report.empty()) std::fprintf(stderr, "%s\n", report.c_str());
        ::_exit(report.empty() ? 0 : 1);
    }
    int status = -1;
    ::wait(&status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DataSourceSetup, EveryFolderNameReachesItsOwnDatabase) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc("");  // no system entry
    testing::TempFolder root;
    const std::string deep = std::string(250, 'd') + "/" + std::string(250, 'd') + "/" + std::string(250, 'd') + "/" +
                             std::string(250, 'd');
    for (const std::string name : {"plain", "dollar$sign", "percent%{x}", "e${HOME}f", "semi;colon", "brace{x}y",
                                   "close}brace", "equals=sign", "hash#mark", "quote\"'", " blank ", "back\\slash",
                                   "line\nbreak", deep.c_str()}) {
        const std::string folder = JoinPath(root.path(), name);
        ASSERT_TRUE(MakeFolders(folder));
        EXPECT_TRUE(InChild([&]() -> std::string {
            SetProgramFolder(folder);
            std::string error;
            const auto chosen = UseProgramDataSource(folder, &error);
            // An ini file cannot hold a line break or a path it would cut:
            // refused, with the reason.
            if (name.find('\n') != std::string::npos || name.size() > 1000)
                return !chosen && error.find("holds a line break") != std::string::npos ? "" : "not refused";
            if (!chosen || chosen->system || !chosen->written) return "not chosen: " + error;
            if (const db::Status made = CreateMailDatabase(std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql", {});
                !made)
                return made.error;
            return FileExists(JoinPath(folder, "db", "db.sqlite")) ? "" : "no database in the folder";
        })) << name;
    }
}

// Which entry is used: the system's wins, also over a user data-source file
// (saying so when it names another program folder's database); the
// folder's own is corrected when the folder was copied, and an
// administrator's entry in it is left alone.
TEST(DataSourceSetup, TheSystemEntryWinsAndACopiedFolderGetsItsOwnDatabase) {
    if (testing::RunInFreshProcess()) return;
    testing::TempFolder root;
    const std::string own = root.File("own"), other = root.File("other");
    const std::string own_db = JoinPath(own, "db", "db.sqlite"), other_db = JoinPath(other, "db", "db.sqlite");
    const auto entry = [](const std::string& driver, const std::string& database) {
        return "[QuorvexServer]\nDriver=" + driver + "\nDatabase=" + database + "\n";
    };
    const struct {
        std::string system_ini, folder_ini;  // folder_ini empty: no file
        bool system, written;
        std::string database, warning;  // a part of the warning; empty: none
    } rows[] = {
        {"", "", false, true, own_db, ""},
        {"", entry("SQLite3", own_db), false, false, own_db, ""},
        {"", entry("SQLite3", other_db), false, true, own_db, "it now names this folder's " + own_db},
        {"", entry("PostgreSQL ANSI", "mail"), false, false, "mail", ""},
        {entry("SQLite3", other_db), entry("SQLite3", own_db), true, false, other_db,
         "names the database " + other_db + " of the program folder " + other},
        {entry("SQLite3", own_db), "", true, false, own_db, ""},
        {entry("PostgreSQL ANSI", "mail"), "", true, false, "mail", ""},
    };
    MakeFolders(own);
    const std::string file = JoinPath(own, "odbc.ini");
    for (const auto& row : rows) {
        ::unlink(file.c_str());
        if (!row.folder_ini.empty()) std::ofstream(file) << row.folder_ini;
        EXPECT_TRUE(InChild([&]() -> std::string {
            OdbcConfig odbc(row.system_ini);
            ::setenv("ODBCINI", file.c_str(), 1);  // a user file with an entry must not hide the system's
            std::string error;
            const auto chosen = UseProgramDataSource(own, &error);
            if (!chosen) return "not chosen: " + error;
            // What the driver manager will connect to.
            char used[1100] = "";
            SQLGetPrivateProfileString("QuorvexServer", "Database", "", used, sizeof used, "odbc.ini");
            const bool as_expected = chosen->system == row.system && chosen->written == row.written &&
                                     chosen->database == row.database && used == row.database &&
                                     row.warning.empty() == chosen->warning.empty() &&
                                     chosen->warning.find(row.warning) != std::string::npos;
            return as_expected ? "" : "used " + std::string(used) + ", warning \"" + chosen->warning + "\"";
        })) << row.system_ini << row.folder_ini;
    }
}

}  // namespace
}  // namespace quorvex
