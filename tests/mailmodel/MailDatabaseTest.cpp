// The database layer and the mailfolder table on SQLite through ODBC,
// checked with the sqlite3 command-line tool.
#include <gtest/gtest.h>

#include "MailDataFixture.h"
#include "OdbcTestSupport.h"
#include "mailmodel/db/MailFolderTable.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/summary/MailSummary.h"

namespace quorvex {
namespace {

using testing::MailDataTest;
using testing::OdbcConfig;
using testing::RunCommand;

const std::string kSchema = std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql";
const std::string kSamples = std::string(QUORVEX_SOURCE_DIR) + "/tests/mailmodel/samples/";

class MailDatabaseTest : public MailDataTest {
protected:
    std::string SqliteDsn() const {
        return "[QuorvexServer]\nDriver=SQLite3\nDatabase=" + JoinPath(home_.path(), "db", "db.sqlite") + "\n";
    }
    std::string Sqlite(const std::string& sql) {
        int status = 0;
        std::string out = RunCommand("sqlite3 -batch -separator '|' '" + JoinPath(home_.path(), "db", "db.sqlite") +
                                         "' \"" + sql + "\"",
                                     &status);
        EXPECT_EQ(status, 0) << sql;
        return out;
    }
};

TEST(SqlScript, SplitsStatementsAtLineEndSemicolons) {
    EXPECT_EQ(db::SplitSqlScript("-- comment\nCREATE TABLE a (x INTEGER);\n\n  CREATE INDEX i\n  ON a (x);\r\nSELECT 1"),
              (std::vector<std::string>{"CREATE TABLE a (x INTEGER)", "  CREATE INDEX i\n  ON a (x)", "SELECT 1"}));
    EXPECT_TRUE(db::SplitSqlScript("-- only a comment\n\n").empty());
}

TEST_F(MailDatabaseTest, BoundValuesArriveUnchanged) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc(SqliteDsn());
    { const db::Status created = CreateMailDatabase(kSchema, {}); ASSERT_TRUE(created) << created.error; }
    db::Connection db;
    ASSERT_TRUE(OpenMailDatabase(db, {"user;x", "p}w"}));
    EXPECT_EQ(db.EngineName(), "SQLite");
    const std::string hostile = "x'); DROP TABLE mailfolder; --";
    const std::string long_text(10000, 'L');
    ASSERT_TRUE(db.Execute("INSERT INTO mailfolder (account, uid, folderid, subject, mailsize) VALUES (?, ?, ?, ?, ?)",
                           {hostile, long_text, std::int64_t{7}, std::string("\xe4\xf6"), std::int64_t{5000000000}}));
    std::vector<db::Row> rows;
    ASSERT_TRUE(db.Query("SELECT account, uid, folderid, subject, mailsize, mailfrom FROM mailfolder WHERE folderid = ?",
                         {std::int64_t{7}}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], hostile);
    EXPECT_EQ(rows[0][1], long_text);
    EXPECT_EQ(rows[0][2], "7");
    EXPECT_EQ(rows[0][3], "\xe4\xf6");
    EXPECT_EQ(rows[0][4], "5000000000");
    EXPECT_EQ(rows[0][5], std::nullopt);

    const db::Status bad = db.Execute("SELECT * FROM no_such_table");
    EXPECT_FALSE(bad);
    EXPECT_FALSE(bad.error.empty());
    db.Close();
    EXPECT_FALSE(db.Execute("SELECT 1"));
}

TEST_F(MailDatabaseTest, FallsBackToTheSqliteFileWithoutADataSource) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc("");
    // No schema file found: nothing is read in its place and no file stays.
    EXPECT_EQ(CreateMailDatabase("", {}).error, "cannot read the database schema schema.sql (not found)");
    EXPECT_FALSE(FileExists(MailDatabasePath()));
    { const db::Status created = CreateMailDatabase(kSchema, {}); ASSERT_TRUE(created) << created.error; }
    EXPECT_EQ(Sqlite("SELECT name FROM sqlite_master WHERE type = 'table'"), "mailfolder\nreceipts\nStoredProcedures\n");
    // An existing file is left as it is.
    ASSERT_TRUE(CreateMailDatabase("/nonexistent/schema.sql", {}));
}

TEST_F(MailDatabaseTest, SummariesOfSampleMessagesLandInTheTable) {
    if (testing::RunInFreshProcess()) return;
    ::setenv("TZ", "QVX-8", 1);
    ::tzset();
    OdbcConfig odbc(SqliteDsn());
    { const db::Status created = CreateMailDatabase(kSchema, {}); ASSERT_TRUE(created) << created.error; }
    const char* samples[] = {"encoded-subject.eml", "folded-headers.eml", "odd-date.eml", "bare-lf.eml"};
    int folder = 1;
    for (const char* name : samples) {
        MailSummary summary;
        ASSERT_TRUE(ParseMailSummary(kSamples + name, summary, false, 0, {}, nullptr)) << name;
        EXPECT_TRUE(InsertMailSummary("bob", folder, FormatMailUid("bob", static_cast<std::uint32_t>(folder)), summary));
        ++folder;
    }
    ::unsetenv("TZ");
    ::tzset();
    const auto size = [&](const char* name) { return std::to_string(ReadFile(kSamples + name).size()); };
    EXPECT_EQ(Sqlite("SELECT account, uid, folderid, hex(subject), mailfrom, maildate, mailsize, mailIsread "
                     "FROM mailfolder ORDER BY folderid"),
              "bob|bob.example.test.quorvexserver.1|1|" + std::string("4772FCDF6520617573204265726C696E") +
                  "|Alice S\xc3\xbcnder <alice.sender@example.org>|2026-03-04 02:04:05|" + size(samples[0]) + "|0\n" +
                  "bob|bob.example.test.quorvexserver.2|2|" +
                  "41206C6F6E67207375626A656374206C696E652074686174207468652073656E64657220666F6C646564206F6E746F2061207365636F6E64206C696E65" +
                  "|Carol <carol@example.net>|2024-03-01 07:59:59|" + size(samples[1]) + "|0\n" +
                  "bob|bob.example.test.quorvexserver.3|3|446176652773207265706F7274|postmaster@example.com|1999-01-01 06:30:00|" +
                  size(samples[2]) + "|0\n" +
                  "bob|bob.example.test.quorvexserver.4|4|" + "286E6F7375626A65637429" +
                  "|nobody@example.com|sometime last week|" + size(samples[3]) + "|0\n");
}

TEST_F(MailDatabaseTest, InsertReportsADatabaseWithoutTheTable) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc(SqliteDsn());
    MakeFolders(JoinPath(home_.path(), "db"));
    MailSummary summary;
    EXPECT_FALSE(InsertMailSummary("bob", 1, "uid", summary, {}));
}

}  // namespace
}  // namespace quorvex
