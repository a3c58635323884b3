// Forwarding, group and remote POP3 lists in maillist.ini: clamping,
// defaults, leftovers of longer lists, limits and injected line breaks.
#include <gtest/gtest.h>

#include "MailDataFixture.h"
#include "common/PasswordScramble.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/account/EmailPOP3Remote.h"

namespace quorvex {
namespace {

class AccountListsTest : public testing::MailDataTest {
protected:
    void SetUp() override {
        MailDataTest::SetUp();
        folder_ = MakeAccount("carol");
    }
    void WriteIni(const std::string& text) {
        WriteFile(JoinPath(folder_, "maillist.ini"), text);
        ProfileFile::ClearCache();
    }
    std::string Ini() { return ReadFile(JoinPath(folder_, "maillist.ini")); }
    std::string folder_;
};

TEST_F(AccountListsTest, ForwardingCountsAreClampedAndDefaulted) {
    const struct {
        const char* ini;
        int count;
        int leave_copy;
        int enabled;
    } cases[] = {
        {"", 0, 1, 0},
        {"[EmailForward]\r\nCount=300\r\nLeaveCopyLocal=0\r\n[system]\r\nEnableForwardMailAddresses=1\r\n", 256, 0, 1},
        {"[EmailForward]\r\nCount=-5\r\n", 0, 1, 0},
        {"[EmailForward]\r\nCount=8\r\nEmailAddress1=a@x\r\n", 8, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteIni(c.ini);
        CEmailForward forward;
        ASSERT_TRUE(forward.Load("CAROL"));
        EXPECT_EQ(forward.GetCount(), c.count);
        EXPECT_EQ(forward.LeaveCopyLocal, c.leave_copy);
        EXPECT_EQ(forward.EnableForwardMailAddresses, c.enabled);
    }
    CEmailForward forward;
    ASSERT_TRUE(forward.Load("carol"));
    EXPECT_EQ(forward.GetAddress(0), "a@x");
    EXPECT_EQ(forward.GetAddress(6), "");
    EXPECT_FALSE(forward.GetAddress(8));
    EXPECT_FALSE(forward.Load("../carol"));
}

TEST_F(AccountListsTest, ForwardingEditsAndSaves) {
    WriteIni("[EmailForward]\r\nCount=5\r\nEmailAddress1=1@x\r\nEmailAddress2=2@x\r\nEmailAddress3=3@x\r\n"
             "EmailAddress4=4@x\r\nEmailAddress5=5@x\r\n");
    CEmailForward forward;
    ASSERT_TRUE(forward.Load("carol"));
    EXPECT_FALSE(forward.DeleteAddress(5));
    EXPECT_TRUE(forward.DeleteAddress(4));  // the last: only shrinks
    EXPECT_TRUE(forward.DeleteAddress(0));
    EXPECT_EQ(forward.GetCount(), 3);
    EXPECT_FALSE(forward.AddAddress(""));
    EXPECT_FALSE(forward.AddAddress("evil@x\r\nCount=99"));
    EXPECT_FALSE(forward.AddAddress(std::string(257, 'l')));
    EXPECT_TRUE(forward.SetAddress(0, std::string(256, 'l')));
    EXPECT_FALSE(forward.SetAddress(1, "a\nb"));
    EXPECT_TRUE(forward.SetAddress(2, ""));
    EXPECT_FALSE(forward.SetAddress(3, "x"));
    forward.LeaveCopyLocal = 7;
    forward.EnableForwardMailAddresses = 1;
    ASSERT_TRUE(forward.Save());

    const auto doc = IniDocument::Parse(Ini());
    EXPECT_EQ(doc.Find("EmailForward", "Count"), "3");
    EXPECT_EQ(doc.Find("EmailForward", "LeaveCopyLocal"), "1");
    EXPECT_EQ(doc.Find("EmailForward", "EmailAddress4"), "4@x");  // left from the longer list
    EXPECT_EQ(doc.Find("System", "EnableForwardMailAddresses"), "1");
    CEmailForward again;
    ASSERT_TRUE(again.Load("carol"));
    EXPECT_EQ(again.GetCount(), 3);
    EXPECT_EQ(again.GetAddress(0), std::string(256, 'l'));
    EXPECT_EQ(again.GetAddress(1), "3@x");

    CEmailForward full;
    ASSERT_TRUE(full.Load("carol"));
    while (full.GetCount() < kMaxForwardAddresses) ASSERT_TRUE(full.AddAddress("f@x"));
    EXPECT_FALSE(full.AddAddress("one@too.many"));
}

TEST_F(AccountListsTest, GroupMembers) {
    const CEmailGroup groups;
    std::vector<std::string> members;
    int count = -1;
    const struct {
        const char* ini;
        bool loaded;
        int count;
    } cases[] = {{"", false, 0}, {"[EmailGroup]\r\nCount=0\r\n", false, 0}, {"[EmailGroup]\r\nCount=129\r\n", false, 129},
                 {"[EmailGroup]\r\nCount=2\r\nMember1=a\r\n", true, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteIni(c.ini);
        EXPECT_EQ(groups.LoadMembers("carol", members, count), c.loaded);
        EXPECT_EQ(count, c.count);
    }
    EXPECT_EQ(members, (std::vector<std::string>{"a", ""}));

    WriteIni("[EmailGroup]\r\nCount=1\r\nMember1=" + std::string(300, 'm') + "\r\n");
    ASSERT_TRUE(groups.LoadMembers("carol", members, count));
    EXPECT_EQ(members[0], std::string(256, 'm'));

    const std::string before = Ini();
    EXPECT_FALSE(groups.SaveMembers("carol", std::vector<std::string>(129, "x"), 129));
    EXPECT_FALSE(groups.SaveMembers("carol", {"ok", "bad\r\nCount=5"}, 2));
    EXPECT_FALSE(groups.SaveMembers("carol", {"only one"}, 2));
    EXPECT_EQ(Ini(), before);
    ASSERT_TRUE(groups.SaveMembers("carol", {}, 0));
    EXPECT_EQ(IniDocument::Parse(Ini()).Find("EmailGroup", "Count"), "0");
}

TEST_F(AccountListsTest, RemoteBoxesLoadWithDefaultsAndClamping) {
    const struct {
        const char* ini;
        int count;
    } cases[] = {{"[POP3Remote]\r\nCount=25\r\n", 20}, {"[POP3Remote]\r\nCount=-1\r\n", 0}, {"", 0}};
    for (const auto& c : cases) {
        WriteIni(c.ini);
        CEmailPOP3Remote boxes;
        ASSERT_TRUE(boxes.Load("carol"));
        EXPECT_EQ(boxes.GetCount(), c.count) << c.ini;
    }
    WriteIni("[POP3Remote]\r\nCount=2\r\nPOP3Server1=pop.example.net\r\nPOP3Account1=me\r\nPOP3Password1=" +
             ScrambledPassword("secret", kScrambleWorkBuffer) + "\r\nEnable1=1\r\nLeaveCopy1=0\r\n"
             "POP3Server2=other\r\nPOP3Password2=9029019\r\n");
    CEmailPOP3Remote boxes;
    ASSERT_TRUE(boxes.Load("carol"));
    RemotePop3Mailbox box;
    ASSERT_TRUE(boxes.GetMailbox(0, box));
    EXPECT_EQ(box.POP3Server, "pop.example.net");
    EXPECT_EQ(box.POP3Password, "secret");
    EXPECT_EQ(box.Enable, 1);
    EXPECT_EQ(box.LeaveCopy, 0);
    EXPECT_EQ(box.port, 110);
    ASSERT_TRUE(boxes.GetMailbox(1, box));
    EXPECT_EQ(box.Enable, 0);
    EXPECT_EQ(box.LeaveCopy, 1);
    EXPECT_EQ(box.POP3Password, "ab");  // a trailing partial group is ignored
    EXPECT_FALSE(boxes.GetMailbox(2, box));
    EXPECT_FALSE(boxes.Load(std::string(77, 'n')));
    EXPECT_EQ(boxes.GetCount(), 2);  // a refused load changes nothing
}

TEST_F(AccountListsTest, RemoteBoxesSaveScrambledAndSurviveAReload) {
    CEmailPOP3Remote boxes;
    ASSERT_TRUE(boxes.Load("carol"));
    RemotePop3Mailbox empty{1, 0, "", "", "", 110};
    EXPECT_FALSE(boxes.AddMailbox(empty));
    RemotePop3Mailbox only_server = empty;
    only_server.POP3Server = "pop.only";
    EXPECT_TRUE(boxes.AddMailbox(only_server));
    RemotePop3Mailbox full{0, 1, "pop.example.net", "me", std::string(100, 'p'), 110};
    EXPECT_TRUE(boxes.AddMailbox(full));
    RemotePop3Mailbox injected = full;
    injected.POP3Account = "me\r\nCount=20";
    EXPECT_FALSE(boxes.AddMailbox(injected));
    EXPECT_FALSE(boxes.SetMailbox(0, injected));
    ASSERT_TRUE(boxes.Save());

    const auto doc = IniDocument::Parse(Ini());
    EXPECT_EQ(doc.Find("POP3Remote", "Count"), "2");
    EXPECT_EQ(doc.Find("POP3Remote", "POP3Password2")->size(), 300u);
    EXPECT_EQ(doc.Find("POP3Remote", "Enable2"), "0");
    EXPECT_EQ(doc.Find("POP3Remote", "LeaveCopy2"), "1");

    CEmailPOP3Remote again;
    ASSERT_TRUE(again.Load("carol"));
    RemotePop3Mailbox box;
    ASSERT_TRUE(again.GetMailbox(1, box));
    EXPECT_EQ(box.POP3Password, std::string(100, 'p'));  // whole, not cut at 85 characters
    ASSERT_TRUE(again.DeleteMailbox(0));
    EXPECT_FALSE(again.DeleteMailbox(1));
    ASSERT_TRUE(again.GetMailbox(0, box));
    EXPECT_EQ(box.POP3Server, "pop.example.net");
    while (again.GetCount() < kMaxRemoteBoxes) ASSERT_TRUE(again.AddMailbox(only_server));
    EXPECT_FALSE(again.AddMailbox(only_server));
}

}  // namespace
}  // namespace quorvex
