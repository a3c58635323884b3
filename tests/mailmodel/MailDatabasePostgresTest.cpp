// The same database layer and mailfolder statements on a real PostgreSQL
// server: a private cluster in the test's folder, reached only through a
// Unix-domain socket, checked with the psql command-line tool.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "MailDataFixture.h"
#include "OdbcTestSupport.h"
#include "mailmodel/db/MailFolderTable.h"
#include "tests/support/TestPorts.h"

namespace quorvex {
namespace {

using testing::OdbcConfig;
using testing::RunCommand;

class PostgresCluster {
public:
    // Starts a cluster in folder/pg; `ok()` tells whether it runs.
    explicit PostgresCluster(const std::string& folder)
        : data_(JoinPath(folder, "pg")), port_(std::to_string(testing::TakeTestPort())) {
        bin_ = testing::FindOdbcDriver("/usr/lib/postgresql/*/bin/initdb");
        if (bin_.empty()) return;
        bin_ = std::string(DirName(bin_));
        MakeFolders(data_, 0700);
        if (::geteuid() == 0) {
            // The server refuses to run as root: hand the folder to postgres.
            const passwd* pg = ::getpwnam("postgres");
            if (!pg || ::chmod(folder.c_str(), 0755) != 0 || ::chown(data_.c_str(), pg->pw_uid, pg->pw_gid) != 0) return;
            as_ = "runuser -u postgres -- ";
        }
        int status = -1;
        log_ = RunCommand(as_ + bin_ + "/initdb -D " + data_ + "/data -A trust -U quorvex -E SQL_ASCII --locale=C 2>&1",
                          &status);
        if (status != 0) return;
        log_ += RunCommand(as_ + bin_ + "/pg_ctl -D " + data_ + "/data -w -t 60 -l " + data_ + "/log -o \"-k " + data_ +
                               " -p " + port_ + " -c listen_addresses=''\" start 2>&1",
                           &status);
        started_ = status == 0;
    }
    ~PostgresCluster() {
        if (started_) RunCommand(as_ + bin_ + "/pg_ctl -D " + data_ + "/data -m immediate -w stop 2>&1");
    }
    bool installed() const { return !bin_.empty(); }
    bool ok() const { return started_; }
    const std::string& log() const { return log_; }
    std::string Dsn() const {
        return "[QuorvexServer]\nDriver=PostgreSQL ANSI\nServername=" + data_ + "\nPort=" + port_ +
               "\nDatabase=postgres\n";
    }
    std::string Psql(const std::string& sql) const {
        return RunCommand(as_ + bin_ + "/psql -h " + data_ + " -p " + port_ + " -U quorvex -d postgres -At -c \"" +
                          sql + "\" 2>&1");
    }

private:
    std::string data_;
    // Only the name of the socket file in the private folder: the server
    // listens on no TCP address.
    std::string port_;
    std::string bin_;
    std::string as_;
    std::string log_;
    bool started_ = false;
};

using PostgresTest = testing::MailDataTest;

TEST_F(PostgresTest, MailfolderRowsOnARealServer) {
    if (testing::RunInFreshProcess()) return;
    PostgresCluster cluster(home_.path());
    if (!cluster.installed()) GTEST_SKIP() << "PostgreSQL server binaries are not installed (package postgresql)";
    ASSERT_TRUE(cluster.ok()) << cluster.log();
    OdbcConfig odbc(cluster.Dsn());
    const MailDatabaseLogin login{"quorvex", ""};

    db::Connection connection;
    const db::Status opened = OpenMailDatabase(connection, login);
    ASSERT_TRUE(opened) << opened.error;
    EXPECT_EQ(connection.EngineName(), "PostgreSQL");
    std::string schema;
    ASSERT_TRUE(ReadWholeFile(std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql", schema));
    const db::Status created = connection.ExecuteScript(schema);
    ASSERT_TRUE(created) << created.error;

    MailSummary summary;
    summary.Subject = "It's a \"test\"; DROP TABLE mailfolder";
    summary.From = "Carol <carol@example.net>";
    summary.Date = "2026-03-04 02:04:05";
    summary.Size = 1234;
    ASSERT_TRUE(InsertMailSummary("bob", 3, "bob.example.test.quorvexserver.9", summary, login));
    ASSERT_TRUE(InsertMailSummary("bob", 1, "bob.example.test.quorvexserver.10", MailSummary{}, login));

    std::vector<db::Row> rows;
    ASSERT_TRUE(connection.Query("SELECT subject, mailsize FROM mailfolder WHERE account = ? AND folderid = ?",
                                 {std::string("bob"), std::int64_t{3}}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], summary.Subject);
    EXPECT_EQ(cluster.Psql("SELECT account, uid, folderid, subject, mailfrom, maildate, mailsize, mailisread "
                           "FROM mailfolder ORDER BY folderid"),
              "bob|bob.example.test.quorvexserver.10|1|(nosubject)|(noaddr)|(nodate)|0|0\n"
              "bob|bob.example.test.quorvexserver.9|3|It's a \"test\"; DROP TABLE mailfolder|Carol "
              "<carol@example.net>|2026-03-04 02:04:05|1234|0\n");
}

}  // namespace
}  // namespace quorvex
