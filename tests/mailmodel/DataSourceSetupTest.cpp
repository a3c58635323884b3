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
#include "common/AtomicFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/db/DataSourceSetup.h"
#include "mailmodel/db/MailDatabase.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::OdbcConfig;
using testing::TempFolder;

const std::string kSchema = std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql";

// Runs `row` in a forked child; what it reports (empty: nothing wrong).
std::string InChild(const std::function<std::string()>& row) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        const std::string report = row();
        [[maybe_unused]] const auto written = ::write(pipe_fds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    ::close(pipe_fds[0]);
    int status = -1;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the child process ended abnormally; " + report;
    return report;
}

std::string ReadText(const std::string& path) {
    std::string text;
    ReadWholeFile(path, text);
    return text;
}

TEST(DataSourceSetup, EveryFolderNameReachesItsOwnDatabase) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc("");  // no system entry
    TempFolder root;
    const char* names[] = {"plain",     "dollar$sign", "percent%{x}", "e${HOME}f", "semi;colon", "brace{x}y",
                           "close}brace", "equals=sign", "hash#mark", "quote\"'", " blank ",   "back\\slash",
                           "utf8-\xc3\xa9"};
    for (const char* name : names) {
        const std::string folder = JoinPath(root.path(), name);
        ASSERT_TRUE(MakeFolders(folder)) << name;
        EXPECT_EQ(InChild([&]() -> std::string {
                      SetProgramFolder(folder);
                      std::string error;
                      const auto chosen = UseProgramDataSource(folder, &error);
                      if (!chosen || chosen->system || !chosen->written) return "not chosen: " + error;
                      if (const db::Status made = CreateMailDatabase(kSchema, {}); !made) return made.error;
                      db::Connection connection;
                      if (const db::Status opened = OpenMailDatabase(connection, {}); !opened) return opened.error;
                      if (!connection.Execute("INSERT INTO receipts (messageid, account) VALUES (?, 'x')",
                                              {std::string(name)}))
                          return "no insert";
                      return "";
                  }),
                  "")
            << name;
        EXPECT_TRUE(FileExists(JoinPath(folder, "db", "db.sqlite"))) << name;
        EXPECT_NE(ReadText(JoinPath(folder, "odbc.ini")).find("Database=" + JoinPath(folder, "db", "db.sqlite")),
                  std::string::npos)
            << name;
    }
    // A path an ini file cannot hold is refused with a reason.
    const std::string broken = JoinPath(root.path(), "line\nbreak");
    ASSERT_TRUE(MakeFolders(broken));
    const std::string refusal = InChild([&] {
        std::string error;
        return UseProgramDataSource(broken, &error) ? std::string("chosen") : error;
    });
    EXPECT_NE(refusal.find("holds a line break"), std::string::npos) << refusal;
}

// Which entry is used: the system's wins (saying so when it names another
// program folder's database); the folder's own is corrected when the folder
// was copied, and an administrator's entry in it is left alone.
TEST(DataSourceSetup, TheSystemEntryWinsAndACopiedFolderGetsItsOwnDatabase) {
    if (testing::RunInFreshProcess()) return;
    TempFolder root;
    const std::string own = JoinPath(root.path(), "own");
    const std::string other = JoinPath(root.path(), "other");
    const std::string own_db = JoinPath(own, "db", "db.sqlite");
    const std::string other_db = JoinPath(other, "db", "db.sqlite");
    const auto entry = [](const std::string& driver, const std::string& database) {
        return "[QuorvexServer]\nDriver=" + driver + "\nDatabase=" + database + "\n";
    };
    const struct {
        const char* name;
        std::string system_ini;
        std::string folder_ini;  // empty: no file
        bool system;
        std::string database;
        bool written;
        std::string warning;  // a part of it; empty: none
    } rows[] = {
        {"fresh folder", "", "", false, own_db, true, ""},
        {"own entry", "", entry("SQLite3", own_db), false, own_db, false, ""},
        {"copied folder", "", entry("SQLite3", other_db), false, own_db, true, "it now names this folder's " + own_db},
        {"administrator's entry", "", entry("PostgreSQL ANSI", "mail"), false, "mail", false, ""},
        {"system entry of another folder", entry("SQLite3", other_db), entry("SQLite3", own_db), true, other_db,
         false, "names the database " + other_db + " of the program folder " + other},
        {"system entry of this folder", entry("SQLite3", own_db), "", true, own_db, false, ""},
        {"system PostgreSQL", entry("PostgreSQL ANSI", "mail"), "", true, "mail", false, ""},
    };
    for (const auto& row : rows) {
        MakeFolders(own);
        const std::string file = JoinPath(own, "odbc.ini");
        ::unlink(file.c_str());
        if (!row.folder_ini.empty()) std::ofstream(file) << row.folder_ini;
        EXPECT_EQ(InChild([&]() -> std::string {
                      OdbcConfig odbc(row.system_ini);
                      // A user data-source file with an entry of that name
                      // (as a folder's own) must not hide the system's.
                      ::setenv("ODBCINI", file.c_str(), 1);
                      std::string error;
                      const auto chosen = UseProgramDataSource(own, &error);
                      if (!chosen) return "not chosen: " + error;
                      std::string report;
                      if (chosen->system != row.system) report += " system";
                      if (chosen->database != row.database) report += " database " + chosen->database;
                      if (chosen->written != row.written) report += " written";
                      if (row.warning.empty() != chosen->warning.empty() ||
                          chosen->warning.find(row.warning) == std::string::npos)
                          report += " warning \"" + chosen->warning + "\"";
                      // What the driver manager will connect to.
                      char used[1100] = "";
                      SQLGetPrivateProfileString("QuorvexServer", "Database", "", used, sizeof used, "odbc.ini");
                      if (used != row.database) report += " connects to " + std::string(used);
                      return report;
                  }),
                  "")
            << row.name;
    }
}

}  // namespace
}  // namespace quorvex
