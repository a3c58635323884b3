#include "app/DatabaseTasks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "AppFixture.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/store/MailStore.h"
#include "servers/remotepop3/UidlRecordFile.h"

namespace quorvex::app {
namespace {

using testing::kSchemaPath;

class DatabaseTasksTest : public testing::AppFolderTest {
protected:
    std::vector<db::Row> Rows(const std::string& sql) {
        db::Connection database;
        EXPECT_TRUE(OpenMailDatabase(database, {}));
        std::vector<db::Row> rows;
        const db::Status status = database.Query(sql, {}, rows);
        EXPECT_TRUE(status) << status.error;
        return rows;
    }
};

TEST_F(DatabaseTasksTest, StartUpStatementsRunInOrderAndAFailedOneEndsTheList) {
    ASSERT_TRUE(EnsureMailDatabase(kSchemaPath));
    UseConfig(
        "[System]\r\nDominame=example.test\r\n[Database]\r\nCount=3\r\n"
        "SQL1=insert into receipts (messageid, account) values ('m1', 'bob')\r\n"
        "SQL2=insert into no_such_table values (1)\r\n"
        "SQL3=insert into receipts (messageid, account) values ('m3', 'bob')\r\n");
    EXPECT_EQ(RunDatabaseScripts(), 0);
    const auto rows = Rows("select messageid from receipts order by messageid");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "m1");

    // With an invalid first statement nothing runs.
    UseConfig(
        "[System]\r\nDominame=example.test\r\n[Database]\r\nCount=2\r\n"
        "SQL1=this is not sql\r\nSQL2=delete from receipts\r\n");
    EXPECT_EQ(RunDatabaseScripts(), 0);
    EXPECT_EQ(Rows("select messageid from receipts").size(), 1u);

    UseConfig("[System]\r\nDominame=example.test\r\n[Database]\r\nCount=1\r\nSQL1=delete from receipts\r\n");
    EXPECT_EQ(RunDatabaseScripts(), 1);
    EXPECT_TRUE(Rows("select messageid from receipts").empty());
}

TEST_F(DatabaseTasksTest, AnExistingDatabaseIsNeverReplaced) {
    ASSERT_TRUE(EnsureMailDatabase(kSchemaPath));
    db::Connection database;
    ASSERT_TRUE(OpenMailDatabase(database, {}));
    ASSERT_TRUE(database.Execute("insert into receipts (messageid, account) values ('keep', 'bob')"));
    database.Close();
    EXPECT_TRUE(EnsureMailDatabase(kSchemaPath));
    EXPECT_EQ(Rows("select messageid from receipts").size(), 1u);
    ASSERT_EQ(::unlink(MailDatabasePath().c_str()), 0);
    // A missing file needs the schema; the reason says where it was looked for.
    const db::Status missing = EnsureMailDatabase("");
    EXPECT_NE(missing.error.find("schema.sql (not found in " + home_.path()), std::string::npos) << missing.error;
    EXPECT_FALSE(FileExists(MailDatabasePath()));
}

TEST_F(DatabaseTasksTest, OldMailboxListsMoveIntoTheStore) {
    const std::string folder = JoinPath(home_.path(), "mail", "bob");
    MakeFolders(folder);
    WriteFile(JoinPath(folder, "maillist.ini"),
              "[System]\r\nPassword=x\r\nNextUID=9\r\nMemberCount=2\r\nPOP3Server=pop.remote.test\r\n"
              "POP3Password=scrambled\r\nPOP3Account=rbob\r\nLeaveCopy=1\r\nForwardMailAddresses=a@x.test;b@y.test\r\n"
              "LeaveCopyLocal=0\r\n"
              "[Members]\r\nMember1=carol\r\nMember2=dave\r\n"
              "[List]\r\nMailCount=2\r\nmail1=1\r\nmail2=2\r\nUIDL1=uid-one\r\nUIDL2=uid-'two'\r\nRead1=1\r\nRead2=0\r\n"
              "MailSize=100\r\nNextFileID=3\r\n"
              "[Folder]\r\nMailCount=1\r\nmail1=5\r\nUIDL5=folder-uid\r\nRead1=0\r\n");
    WriteFile(JoinPath(folder, "1.eml"), "Subject: one\r\n\r\nfirst\r\n");
    WriteFile(JoinPath(folder, "2.eml"), "Subject: two\r\n\r\nsecond\r\n");
    WriteFile(JoinPath(folder, "5.folder"), "Subject: five\r\n\r\nfiled\r\n");
    UseConfig("[System]\r\nDominame=example.test\r\nVersion=5.0\r\n");

    ASSERT_TRUE(EnsureMailDatabase(kSchemaPath));
    {
        db::Connection database;
        ASSERT_TRUE(OpenMailDatabase(database, {}));
        ASSERT_TRUE(database.Execute(
            "insert into mailfolder (account, uid, folderid) values ('bob', 'folder-uid', 1), ('eve', 'folder-uid', 1)"));
    }
    EXPECT_EQ(UpgradeDatabase(kSchemaPath), 1);

    MailboxSnapshot box;
    ASSERT_TRUE(LoadMailboxIndexLocked("bob", box));
    EXPECT_EQ(box.Counts[0], 2);
    EXPECT_EQ(box.Counts[1], 1);
    EXPECT_FALSE(FileExists(JoinPath(folder, "_1.eml")));
    EXPECT_FALSE(FileExists(JoinPath(folder, "_5.folder")));

    ProfileFile::ClearCache();
    const auto ini = ProfileFile(JoinPath(folder, "maillist.ini")).Load();
    for (const char* section : {"List", "Folder", "Members"}) EXPECT_FALSE(ini->HasSection(section)) << section;
    for (const char* key : {"NextUID", "MemberCount", "POP3Server", "POP3Password", "POP3Account", "LeaveCopy",
                            "ForwardMailAddresses", "LeaveCopyLocal"}) {
        EXPECT_FALSE(ini->Find("System", key)) << key;
    }
    EXPECT_EQ(ini->Find("EmailGroup", "Count"), "2");
    EXPECT_EQ(ini->Find("EmailGroup", "Member2"), "dave");
    EXPECT_EQ(ini->Find("POP3Remote", "POP3Server1"), "pop.remote.test");
    EXPECT_EQ(ini->Find("POP3Remote", "POP3Password1"), "scrambled");
    EXPECT_EQ(ini->Find("POP3Remote", "LeaveCopy1"), "1");
    EXPECT_EQ(ini->Find("EmailForward", "EmailAddress1"), "a@x.test;b@y.test");
    EXPECT_EQ(ini->Find("EmailForward", "LeaveCopyLocal"), "0");
    EXPECT_EQ(ReadProfileInt(home_.File("config.ini"), "System", "DBUpgrade1.0", 0), 1);

    // The old ids are remembered, apostrophes and all.
    remotepop3::UidlRecordFile uidl(JoinPath(folder, "Pop3uidl.ini"));
    uidl.Load();
    EXPECT_TRUE(uidl.Contains("uid-one"));
    EXPECT_TRUE(uidl.Contains("uid-'two'"));
    EXPECT_TRUE(uidl.Contains("folder-uid"));

    // Only bob's row of the table got the new unique id.
    const auto rows = Rows("select account, uid from mailfolder order by account");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], FormatMailUid("bob", box.Records.back().Uid));
    EXPECT_EQ(rows[1][1], "folder-uid");

    // Done once: a second start changes nothing.
    WriteFile(JoinPath(folder, "9.eml"), "x");
    EXPECT_EQ(UpgradeDatabase(kSchemaPath), 1);
    ASSERT_TRUE(LoadMailboxIndexLocked("bob", box));
    EXPECT_EQ(box.Counts[0], 2);
}

TEST_F(DatabaseTasksTest, NewAndFreshInstallationsAreNeverMigrated) {
    for (const char* config : {"[System]\r\nDominame=example.test\r\n",
                               "[System]\r\nDominame=example.test\r\nVersion=5.3\r\n",
                               "[System]\r\nDominame=example.test\r\nVersion=5.0\r\nDBUpgrade1.0=1\r\n"}) {
        UseConfig(config);
        EXPECT_EQ(UpgradeDatabase(""), 1) << config;  // would throw if it tried to open a database
        EXPECT_FALSE(FileExists(MailDatabasePath())) << config;
    }
}

}  // namespace
}  // namespace quorvex::app
