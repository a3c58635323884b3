// The AccountInfo and AccountListInfo tables over the account operations.
#include <gtest/gtest.h>

#include "MailDataFixture.h"
#include "common/Notices.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/provision/AccountTables.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex {
namespace {

class AccountTablesTest : public testing::MailDataTest {
protected:
    NullNoticeSink quiet_;
};

TEST_F(AccountTablesTest, AccountInfoShowsTotalsAndKeepsTheGroupFlag) {
    AccountRecord record;
    record.Comment = std::string(300, 'c');
    ASSERT_TRUE(SaveAccount("gina", record, &quiet_));
    ASSERT_TRUE(AddMessageToMailbox("gina", WriteMessage("m.eml", "12345"), nullptr, 1, false, false));

    AccountInfoTable table;
    EXPECT_FALSE(table.Open("nobody"));
    MakeFolders(JoinPath(home_.path(), "mail", "unlisted"));
    EXPECT_FALSE(table.Open("unlisted"));
    ASSERT_TRUE(table.Open("GINA"));
    AccountInfoRecord info;
    ASSERT_TRUE(table.GetRecord(info));
    EXPECT_EQ(info.MailCount, 2);  // the welcome message and one more
    EXPECT_EQ(info.Used, GetMailboxTotalSize("gina"));
    EXPECT_EQ(info.Comment.size(), 256u);
    EXPECT_EQ(info.TimeStamp.size(), 19u);

    info.IsGroup = 1;
    info.UserName = "Gina";
    info.Name = "someone-else";
    info.MailCount = 99;
    ASSERT_TRUE(table.SetRecord(info));
    ASSERT_TRUE(table.Save(&quiet_));
    AccountRecord saved;
    ASSERT_TRUE(LoadAccount("gina", saved));
    EXPECT_EQ(saved.UserName, "Gina");
    EXPECT_EQ(saved.IsGroup, 0);
    EXPECT_FALSE(Accounts().Exists("someone-else"));

    // Saving an account deleted after Open creates it again.
    ASSERT_TRUE(DeleteAccount("gina", &quiet_));
    ASSERT_TRUE(table.Save(&quiet_));
    EXPECT_TRUE(Accounts().Exists("gina"));
    EXPECT_EQ(GetMailboxMessageCount("gina"), 1);
}

TEST_F(AccountTablesTest, DomainListValidatesNewNames) {
    UseConfig("[System]\r\nDominame=example.test\r\nDomainNameType=1\r\n"
              "[DomainName]\r\nCount=2\r\nDN1=one.test\r\nDNAccount1=-1\r\nDNSpace1=-1\r\nMailboxDefaultSize1=7\r\n"
              "DN2=two.test\r\n");
    DomainAccountList list;
    EXPECT_FALSE(list.Open("three.test"));
    ASSERT_TRUE(list.Open("ONE.test"));
    EXPECT_EQ(list.DefaultSize(), 7);
    const char* refused[] = {"with space@one.test", "hash#@one.test", "@one.test", "", "x@two.test", "plain",
                             "_r@one.test", "quote\"@one.test", "semi;colon@one.test"};
    for (const char* name : refused) EXPECT_FALSE(list.AddAccount({name, 5}, &quiet_)) << name;
    ASSERT_TRUE(list.AddAccount({"Admin@one.test", 5}, &quiet_));
    EXPECT_FALSE(list.AddAccount({"admin@ONE.test", 5}, &quiet_));  // exists
    EXPECT_EQ(Accounts().GetPermission("admin@one.test"), 1);
    ASSERT_EQ(list.GetCount(), 1);
    DomainAccountEntry entry;
    ASSERT_TRUE(list.GetEntry(0, entry));
    EXPECT_EQ(entry.Size, 0);  // until the list is opened again
    ASSERT_TRUE(list.Open("one.test"));
    ASSERT_TRUE(list.GetEntry(0, entry));
    EXPECT_EQ(entry.Size, 5 * 1024 * 1024);
    EXPECT_EQ(list.Find("ADMIN@one.test"), 0);
    EXPECT_EQ(list.Find("x"), -1);
    EXPECT_FALSE(list.GetEntry(1, entry));
    EXPECT_FALSE(list.DeleteAccount(1, &quiet_));
    ASSERT_TRUE(list.DeleteAccount(0, &quiet_));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_FALSE(Accounts().Exists("admin@one.test"));
}

TEST_F(AccountTablesTest, SingleDomainListsNamesWithoutAt) {
    MakeAccount("one");
    MakeAccount("two", "[System]\r\nMax=1\r\n");
    MakeAccount("x@elsewhere");
    DomainAccountList list;
    ASSERT_TRUE(list.Open("example.test"));
    EXPECT_EQ(list.GetCount(), 2);
    DomainAccountEntry entry;
    ASSERT_TRUE(list.GetEntry(list.Find("two"), entry));
    EXPECT_EQ(entry.Size, -1);
    EXPECT_FALSE(list.AddAccount({"new@example.test", 1}, &quiet_));
    EXPECT_TRUE(list.AddAccount({"new", 1}, &quiet_));
}

}  // namespace
}  // namespace quorvex
