// Account list, account record and the shared account operations: domain
// limits, reserved names, passwords, deletion and group clean-up.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MailDataFixture.h"
#include "common/ErrorLog.h"
#include "common/Notices.h"
#include "common/PasswordDigest.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex {
namespace {

using testing::MailDataTest;

class RecordingSink : public NoticeSink {
public:
    void Post(NoticeId id, std::string_view payload) override { seen.push_back({id, std::string(payload)}); }
    bool PostAndWait(NoticeId id, std::string_view payload, std::chrono::milliseconds) override {
        Post(id, payload);
        return true;
    }
    std::vector<Notice> seen;
};

AccountRecord WithVolume(int volume) {
    AccountRecord record;
    record.Volume = volume;
    return record;
}

TEST_F(MailDataTest, AccountListReadsTheMailFolder) {
    MakeAccount("plain");
    MakeAccount("_hidden");
    MakeAccount("Admin");
    MakeAccount("big", "[System]\r\nVolume=5000\r\nPermission=-1\r\n");
    MakeAccount("free", "[system]\r\nVolume=1\r\nMax=1\r\nDisabled=1\r\nIsGroup=1\r\nPassword=" + std::string(90, 'p') + "\r\n");
    WriteFile(JoinPath(home_.path(), "mail", "file-not-folder"), "x");
    Accounts().Load();

    EXPECT_EQ(Accounts().GetCount(), 4);
    EXPECT_FALSE(Accounts().Exists("_hidden"));
    EXPECT_FALSE(Accounts().Exists("file-not-folder"));
    EXPECT_EQ(Accounts().GetQuotaBytes("PLAIN"), 20u * 1024 * 1024);
    EXPECT_EQ(Accounts().GetPermission("admin"), 1);
    EXPECT_EQ(Accounts().GetPermission("plain"), 0);
    EXPECT_EQ(Accounts().GetPermission("big"), 0);  // a hand-edited negative level is no administrator
    EXPECT_EQ(Accounts().GetQuotaBytes("big"), 5000ull * 1024 * 1024);  // past 4 GiB, exact
    EXPECT_EQ(Accounts().GetQuotaBytes("free"), kNoQuotaLimit);
    EXPECT_TRUE(Accounts().IsDisabled("free"));
    EXPECT_EQ(Accounts().IsGroup("free"), 1);
    EXPECT_EQ(Accounts().GetPassword("free")->size(), 76u);
    EXPECT_FALSE(Accounts().IsDisabled("plain"));
    EXPECT_EQ(Accounts().GetPassword("plain"), "");
    EXPECT_FALSE(Accounts().GetName(-1));
    EXPECT_FALSE(Accounts().GetName(4));
    EXPECT_TRUE(Accounts().GetName(3));
    EXPECT_EQ(Accounts().StoredName("ADMIN"), "Admin");
    EXPECT_EQ(Accounts().GetQuotaBytes("nobody"), 0u);
}

// A number of the account file outside what its key takes is named in the
// error log and the key keeps its default: a typo never disables an
// account, makes it a group, lifts its quota or grants rights.
TEST_F(MailDataTest, AccountFileNumbersOutsideTheirRangeKeepTheDefault) {
    const struct {
        std::string line;
        bool disabled;
        int group;
        std::uint64_t quota_mb;  // 0: no limit
        int permission;
        const char* refused;  // what the error log says; null: nothing
    } rows[] = {
        {"Disabled=1", true, 0, 20, 0, nullptr},
        {"Volume= 30 ", false, 0, 30, 0, nullptr},
        {"Max=1", false, 0, 0, 0, nullptr},
        {"Permission=2", false, 0, 20, 2, nullptr},
        {"Disabled=12abc", false, 0, 20, 0, "Disabled the value \"12abc\", which is not a whole number from 0 to 1."},
        {"Disabled=-1", false, 0, 20, 0, "Disabled the value \"-1\""},
        {"IsGroup=-1", false, 0, 20, 0, "IsGroup the value \"-1\", which is not a whole number from 0 to 1."},
        {"Volume=2147483648", false, 0, 20, 0, "Volume the value \"2147483648\", which is not a whole number."},
        {"Volume=", false, 0, 20, 0, "Volume the value \"\""},
        {"Max=12abc", false, 0, 20, 0, "Max the value \"12abc\""},
        {"Permission=3", false, 0, 20, 0, "Permission the value \"3\", which is not a whole number from 0 to 2."},
    };
    std::vector<std::string> logged;
    SetErrorLogAlertHook([&](std::string_view text) { logged.emplace_back(text); });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        logged.clear();
        const std::string folder = MakeAccount("typo", "[System]\r\n" + row.line + "\r\n");
        EXPECT_EQ(Accounts().IsDisabled("typo"), row.disabled);
        EXPECT_EQ(Accounts().IsGroup("typo"), row.group);
        EXPECT_EQ(Accounts().GetQuotaBytes("typo"), row.quota_mb ? row.quota_mb * 1024 * 1024 : kNoQuotaLimit);
        EXPECT_EQ(Accounts().GetPermission("typo"), row.permission);
        AccountRecord record;
        ASSERT_TRUE(LoadAccount("typo", record));
        EXPECT_EQ(record.Disabled != 0, row.disabled);
        EXPECT_EQ(record.Max != 0, row.quota_mb == 0);
        ASSERT_EQ(logged.size(), row.refused ? 1u : 0u);
        if (row.refused) {
            EXPECT_EQ(logged[0].find("The settings file " + JoinPath(folder, "maillist.ini") + " gives [System] "), 0u)
                << logged[0];
            EXPECT_NE(logged[0].find(row.refused), std::string::npos) << logged[0];
        }
    }
    SetErrorLogAlertHook(nullptr);

    // What the program writes reads back as it was meant.
    AccountRecord record;
    record.Disabled = 5;
    record.IsGroup = -3;
    record.Permission = 9;
    ASSERT_TRUE(SaveAccount("typo", record));
    const std::string written = ReadFile(JoinPath(home_.path(), "mail", "typo", "maillist.ini"));
    for (const char* line : {"\nDisabled=1\r", "\nIsGroup=1\r", "\nPermission=2\r"})
        EXPECT_NE(written.find(line), std::string::npos) << written;
    EXPECT_TRUE(Accounts().IsDisabled("typo"));
    EXPECT_EQ(Accounts().GetPermission("typo"), 2);
}

TEST_F(MailDataTest, AccountPathsHaveALengthLimit) {
    // Program folder + name may add up to 260 characters.
    const std::string deep = JoinPath(home_.path(), std::string(220 - home_.path().size(), 'd'));
    SetProgramFolder(deep);
    const std::size_t room = kMaxAccountPathLength - deep.size();
    EXPECT_TRUE(GetAccountFolderPath(std::string(room, 'a')));
    EXPECT_FALSE(GetAccountFolderPath(std::string(room + 1, 'a')));
    const std::size_t settings_room = kMaxAccountPathLength - (deep.size() + std::string("/mail//maillist.ini").size());
    EXPECT_TRUE(GetAccountSettingsPath(std::string(settings_room, 's')));
    EXPECT_FALSE(GetAccountSettingsPath(std::string(settings_room + 1, 's')));
}

TEST_F(MailDataTest, SaveCreatesAnAccountWithWelcomeMail) {
    RecordingSink notices;
    AccountRecord record;
    record.UserName = "Alice Example";
    ASSERT_TRUE(SaveAccount("alice", record, &notices));
    const std::string ini = ReadFile(JoinPath(home_.path(), "mail", "alice", "maillist.ini"));
    const auto keys = IniDocument::Parse(ini).KeyNames("System");
    EXPECT_EQ(keys, (std::vector<std::string>{"Password", "UserName", "Comment", "TimeStamp", "InterMail", "Volume",
                                              "Max", "Disabled", "IsGroup", "Permission"}));
    EXPECT_TRUE(Accounts().Exists("alice"));
    EXPECT_EQ(GetMailboxMessageCount("alice"), 1);
    const std::string welcome = ReadFile(home_.File("Welcome.inbox"));
    EXPECT_NE(welcome.find("\r\nTo: newuser@example.test\r\n"), std::string::npos) << welcome;
    EXPECT_EQ(welcome.rfind("Received: from WelcomeEmail ", 0), 0u) << welcome;
    EXPECT_NE(welcome.find("\r\nFrom: admin@example.test\r\n"), std::string::npos) << welcome;
    EXPECT_NE(welcome.find("\r\nSubject: Welcome to QuorvexServer\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(JoinPath(home_.path(), "mail", "alice", "1.eml")).size(), welcome.size());
    EXPECT_TRUE(CheckAccountPassword("alice", ""));        // empty password stored as its digest
    EXPECT_TRUE(CheckAccountPassword("alice", HashAccountPassword("", 1)));
    EXPECT_FALSE(CheckAccountPassword("alice", "guess"));
    EXPECT_EQ(GetAccountUserName("ALICE"), "Alice Example");
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0].id, NoticeId::WM_NEW_ACCOUNT);

    AccountRecord loaded;
    ASSERT_TRUE(LoadAccount("alice", loaded));
    EXPECT_EQ(loaded.TimeStamp.size(), 19u);
    loaded.Comment = "changed";
    ASSERT_TRUE(SaveAccount("alice", loaded, &notices));
    EXPECT_EQ(notices.seen.back().id, NoticeId::WM_UPDATE_ACCOUNT);
    EXPECT_EQ(GetMailboxMessageCount("alice"), 1);
    ASSERT_TRUE(WriteAccountTimeStamp("alice", "2026/01/02 03:04:05"));
    ASSERT_TRUE(LoadAccount("alice", loaded));
    EXPECT_EQ(loaded.Comment, "changed");
    EXPECT_EQ(loaded.TimeStamp, "2026/01/02 03:04:05");
    EXPECT_FALSE(WriteAccountTimeStamp("alice", "x\r\nPassword=y"));
}

TEST_F(MailDataTest, SaveRefusals) {
    RecordingSink notices;
    MakeFolders(JoinPath(home_.path(), "mail", "stray"));  // a folder that is not listed
    AccountRecord injected;
    injected.Comment = "line\r\nPassword=x";
    const struct {
        const char* what;
        std::string name;
        AccountRecord record;
    } cases[] = {
        {"reserved underscore", "_x", AccountRecord{}},
        {"reserved All", "all", AccountRecord{}},
        {"folder already exists", "stray", AccountRecord{}},
        {"name with a slash", "a/b", AccountRecord{}},
        {"parent folder", "..", AccountRecord{}},
        {"empty name", "", AccountRecord{}},
        {"domain not local", "x@elsewhere.test", AccountRecord{}},
        {"CR LF in a value", "carol", injected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(SaveAccount(c.name, c.record, &notices));
    }
    EXPECT_TRUE(notices.seen.empty());
    EXPECT_FALSE(FileExists(JoinPath(home_.path(), "mail", "stray", "maillist.ini")));
    EXPECT_FALSE(FolderExists(JoinPath(home_.path(), "mail", "carol")));
    EXPECT_FALSE(FolderExists(JoinPath(home_.path(), "b")));
}

TEST_F(MailDataTest, DomainLimitsOnAccountsAndSpace) {
    UseConfig("[System]\r\nDominame=example.test\r\nDomainNameType=1\r\n"
              "[DomainName]\r\nCount=2\r\nDN1=small.test\r\nDNAccount1=3\r\nDNSpace1=-1\r\n"
              "DN2=space.test\r\nDNAccount2=-1\r\nDNSpace2=100\r\n");
    RecordingSink notices;
    for (const char* name : {"a@small.test", "b@small.test", "c@small.test"})
        ASSERT_TRUE(SaveAccount(name, WithVolume(1), &notices)) << name;
    EXPECT_FALSE(SaveAccount("d@small.test", WithVolume(1), &notices));
    EXPECT_EQ(CountDomainAccounts("SMALL.test"), 3);
    EXPECT_EQ(AccountExists("plain"), AccountPresence::kMissing);            // no "@" in multi-domain mode
    EXPECT_EQ(AccountExists("a@unknown.test"), AccountPresence::kMissing);
    EXPECT_EQ(AccountExists("A@Small.Test"), AccountPresence::kListed);
    EXPECT_TRUE(IsAccountInDomain("a@small.test", "small.test"));
    EXPECT_FALSE(IsAccountInDomain("a@small.test", "space.test"));

    ASSERT_TRUE(SaveAccount("x@space.test", WithVolume(80), &notices));
    EXPECT_FALSE(SaveAccount("y@space.test", WithVolume(21), &notices));
    EXPECT_FALSE(SaveAccount("y@space.test", WithVolume(-1), &notices));
    ASSERT_TRUE(SaveAccount("y@space.test", WithVolume(20), &notices));  // exactly at the limit
    EXPECT_EQ(GetDomainAllocatedSpace("space.test"), 100ll * 1024 * 1024);
    // An update is tested against the space less the account's own quota.
    AccountRecord x;
    ASSERT_TRUE(LoadAccount("x@space.test", x));
    x.Volume = 80;
    EXPECT_TRUE(SaveAccount("x@space.test", x, &notices));
    x.Volume = 81;
    EXPECT_FALSE(SaveAccount("x@space.test", x, &notices));
}

TEST_F(MailDataTest, SingleDomainModeAndReservedNames) {
    MakeAccount("bob");
    EXPECT_EQ(AccountExists("_bob"), AccountPresence::kReserved);
    EXPECT_EQ(AccountExists("ALL"), AccountPresence::kReserved);
    EXPECT_EQ(AccountExists("bob@example.test"), AccountPresence::kMissing);
    EXPECT_EQ(AccountExists("BOB"), AccountPresence::kListed);
    EXPECT_TRUE(IsAccountInDomain("bob", "EXAMPLE.test"));
    EXPECT_FALSE(IsAccountInDomain("bob", "other.test"));
    EXPECT_FALSE(CheckAccountPassword("bob", ""));  // nothing stored: nothing accepted
}

TEST_F(MailDataTest, DeleteRemovesFolderEntryAndGroupMemberships) {
    RecordingSink notices;
    ASSERT_TRUE(SaveAccount("dave", AccountRecord{}, &notices));
    for (const char* group : {"team", "club"}) {
        AccountRecord record;
        record.IsGroup = 1;
        ASSERT_TRUE(SaveAccount(group, record, &notices));
    }
    const CEmailGroup groups;
    ASSERT_TRUE(groups.SaveMembers("team", {"erin", "DAVE", "dave", "frank"}, 4));
    ASSERT_TRUE(groups.SaveMembers("club", {"erin"}, 1));
    EXPECT_FALSE(DeleteAccount("nobody", &notices));
    ASSERT_TRUE(DeleteAccount("Dave", &notices));
    EXPECT_EQ(notices.seen.back().id, NoticeId::WM_DELETE_ACCOUNT);
    EXPECT_FALSE(Accounts().Exists("dave"));
    EXPECT_FALSE(FolderExists(JoinPath(home_.path(), "mail", "dave")));
    std::vector<std::string> members;
    int count = 0;
    ASSERT_TRUE(groups.LoadMembers("team", members, count));
    EXPECT_EQ(members, (std::vector<std::string>{"erin", "dave", "frank"}));  // once per group
    ASSERT_TRUE(groups.LoadMembers("club", members, count));
    EXPECT_EQ(count, 1);
}

TEST_F(MailDataTest, ConcurrentCreationOfOneNameMakesOneAccount) {
    NullNoticeSink quiet;
    std::vector<std::thread> threads;
    std::atomic<int> saved{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] { saved += SaveAccount("race", AccountRecord{}, &quiet) ? 1 : 0; });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(saved, 8);  // one creation, seven updates
    EXPECT_EQ(Accounts().GetCount(), 1);
    EXPECT_EQ(GetMailboxMessageCount("race"), 1);
}

TEST_F(MailDataTest, StoreModesNeverOverwriteNorRecreate) {
    NullNoticeSink quiet;
    AccountRecord first;
    first.Password = "first";
    ASSERT_EQ(StoreAccount("taken", first, AccountStoreMode::kCreateOnly, &quiet), AccountStoreResult::kStored);
    MakeFolders(JoinPath(home_.path(), "mail", "leftover"));  // a folder nobody lists
    AccountRecord second;
    second.Password = "second";
    const struct {
        const char* name;
        AccountStoreMode mode;
        AccountStoreResult expected;
    } cases[] = {
        {"TAKEN", AccountStoreMode::kCreateOnly, AccountStoreResult::kExists},
        {"leftover", AccountStoreMode::kCreateOnly, AccountStoreResult::kExists},
        {"gone", AccountStoreMode::kUpdateOnly, AccountStoreResult::kMissing},
        {"_hidden", AccountStoreMode::kCreateOnly, AccountStoreResult::kRefusedName},
        {"a..b", AccountStoreMode::kCreateOnly, AccountStoreResult::kRefusedName},  // not a new name
        {"x@elsewhere.test", AccountStoreMode::kCreateOnly, AccountStoreResult::kUnknownDomain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StoreAccount(c.name, second, c.mode, &quiet), c.expected);
    }
    EXPECT_EQ(Accounts().GetPassword("taken"), "first");
    EXPECT_FALSE(Accounts().Exists("gone"));
    EXPECT_FALSE(FolderExists(JoinPath(home_.path(), "mail", "a..b")));
    EXPECT_EQ(StoreAccount("taken", second, AccountStoreMode::kUpdateOnly, &quiet), AccountStoreResult::kStored);
    EXPECT_EQ(Accounts().GetPassword("taken"), "second");
}

}  // namespace
}  // namespace quorvex
