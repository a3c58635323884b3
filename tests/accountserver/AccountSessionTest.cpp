// Account-server requests driven through a scripted line channel against a
// temporary program folder: the paths where a failure must not be
// answered "+OK", and the race of two sign-ups of one name.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "accountserver/AccountSession.h"
#include "accountserver/SignUpLimit.h"
#include "accountserver/Table.h"
#include "servers/address/AddressRules.h"
#include "servers/logins/LoginGuard.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "mailmodel/MailDataFixture.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "support/NetTestSupport.h"
#include "support/RecordedActivity.h"

namespace quorvex::accountserver {
namespace {

class ScriptedChannel final : public LineChannel {
public:
    explicit ScriptedChannel(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    LineStatus ReadLine(std::string& line) override {
        if (next_ >= lines_.size()) return LineStatus::kClosed;
        if (before_read_) before_read_(next_);
        line = lines_[next_++];
        return LineStatus::kLine;
    }
    bool SendLine(std::string_view text) override {
        replies.emplace_back(text);
        return true;
    }
    // Runs before line `index` is handed out.
    void BeforeRead(std::function<void(std::size_t)> hook) { before_read_ = std::move(hook); }

    std::vector<std::string> replies;

private:
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    std::function<void(std::size_t)> before_read_;
};

std::vector<std::string> SignUpLines(const std::string& name, const std::string& password) {
    return {"SIGNUP#" + name, "PASSWORD#" + password, "USERNAME#", "COMMENT#", "POP3SERVER#",
            "POP3ACCOUNT#", "POP3MAIL#", "POP3PASSWORD#", "LEAVECOPY#0", "QUIT"};
}

class AccountSessionTest : public quorvex::testing::MailDataTest {
protected:
    std::vector<std::string> Run(ScriptedChannel& channel, const std::string& client = "127.0.0.1") {
        // The job table's answer for the connection: the settings' front ends.
        const ConnectionClient connection(client, IsWebMailAddress(client) != 0);
        RequestContext context(channel, connection, nullptr, [this](std::string_view line) { log.emplace_back(line); },
                               &logins, &signups);
        context.SetActivity(activity);
        AccountServerSession(context).Run();
        return channel.replies;
    }
    std::vector<std::string> Run(std::vector<std::string> lines) {
        ScriptedChannel channel(std::move(lines));
        return Run(channel);
    }
    std::vector<std::string> log;        // system log lines
    std::vector<std::string> login_log;  // failed-login and refused sign-up lines
    quorvex::testing::RecordedActivity activity;
    LoginGuard logins{GuardOptions()};
    SignUpLimit signups{SignUpOptions()};
    LoginGuardOptions GuardOptions() {
        LoginGuardOptions options;
        options.log = [this](std::string_view line) { login_log.emplace_back(line); };
        return options;
    }
    SignUpLimitOptions SignUpOptions() {
        SignUpLimitOptions options;
        options.log = [this](std::string_view line) { login_log.emplace_back(line); };
        return options;
    }
    quorvex::testing::RunFlagScope run_flag_;
};

TEST_F(AccountSessionTest, SignUpRaceCannotTakeOverTheAccount) {
    ScriptedChannel first(SignUpLines("admin", "first"));
    // While the first sign-up is in its dialogue, a second one of the same
    // name completes.
    first.BeforeRead([&](std::size_t index) {
        if (index == 9) {
            EXPECT_EQ(Run(SignUpLines("ADMIN", "second")).back(), "+OK");
        }
    });
    const auto replies = Run(first);
    EXPECT_EQ(replies.back(), "-ERR The user account already exists.");
    EXPECT_TRUE(CheckAccountPassword("admin", "second"));
    EXPECT_FALSE(CheckAccountPassword("admin", "first"));
    // Signing up as "admin" makes a mail account like any other.
    EXPECT_EQ(Accounts().GetPermission("admin"), 0);
}

TEST_F(AccountSessionTest, FailedSavesAreNotAnsweredOk) {
    ASSERT_EQ(Run(SignUpLines("bob", "pw")).back(), "+OK");
    // A lone CR cannot be stored in the settings file.
    std::vector<std::string> update = SignUpLines("bob", "new");
    update[0] = "UPDATE#bob#pw";
    update[2] = "USERNAME#a\rb";
    EXPECT_EQ(Run(update).back(), "-ERR Update failed");
    EXPECT_TRUE(CheckAccountPassword("bob", "pw"));

    update[2] = "USERNAME#Bob";
    EXPECT_EQ(Run(update).back(), "+OK");
    EXPECT_TRUE(CheckAccountPassword("bob", "new"));

    const auto deleted = Run({"DELETE#bob#new", "QUIT"});
    EXPECT_EQ(deleted, (std::vector<std::string>{"+OK", "+OK"}));
    EXPECT_EQ(AccountExists("bob"), AccountPresence::kMissing);
    EXPECT_FALSE(FolderExists(home_.File("mail/bob")));
}

TEST_F(AccountSessionTest, DomainAdministratorConfigurationFailureIsReported) {
    MakeAccount("admin", "[System]\r\nPassword=apw\r\nPermission=1\r\n");
    MakeAccount("carl", "[System]\r\nPassword=cpw\r\n");
    const auto replies = Run({"ACCOUNT#admin#apw", "CONF carl", "COMM bad\rtext", "."});
    EXPECT_EQ(replies, (std::vector<std::string>{"+OK", "+OK ", "-ERR Update failed"}));
    const auto done = Run({"ACCOUNT#admin#apw", "CONF carl", "SIZE 50", "PASS fresh two", ".", "QUIT"});
    EXPECT_EQ(done, (std::vector<std::string>{"+OK", "+OK ", "+OK ", "+OK bye"}));
    EXPECT_TRUE(CheckAccountPassword("carl", "fresh"));
    EXPECT_EQ(Accounts().GetQuotaBytes("carl"), 50u * 1024 * 1024);
}

TEST_F(AccountSessionTest, RefusedLoginsAreLoggedWithThePeer) {
    MakeAccount("dora", "[System]\r\nPassword=dpw\r\n");
    MakeAccount("ed", "[System]\r\nPassword=epw\r\nDisabled=1\r\n");
    MakeAccount("fay", "[System]\r\nPassword=fpw\r\nPermission=0\r\n");
    EXPECT_EQ(Run({"LOGIN#dora:198.51.100.4#wrong"}), (std::vector<std::string>{"-ERR password incorrect"}));
    EXPECT_EQ(Run({"AUTH#ghost\rforged line#x"}), (std::vector<std::string>{"-ERR no such user"}));
    EXPECT_EQ(Run({"ACCOUNT#fay#fpw"}), (std::vector<std::string>{"-ERR illeglar user"}));
    // A disabled account is refused by every request and session, but only
    // after its right password.
    for (const char* request : {"LOGIN#ed#epw", "UPDATE#ed#epw", "DELETE#ed#epw", "AUTH#ed#epw", "ACCOUNT#ed#epw"})
        EXPECT_EQ(Run({request}), (std::vector<std::string>{"-ERR the account is disabled"})) << request;
    EXPECT_EQ(Run({"LOGIN#ed#wrong"}), (std::vector<std::string>{"-ERR password incorrect"}));
    EXPECT_EQ(login_log, (std::vector<std::string>{
                             "login failed: service=account-server address=198.51.100.4 via=127.0.0.1 account=dora "
                             "outcome=wrong-password",
                             "login failed: service=account-server address=127.0.0.1 account=ghost\\x0dforged\\x20line "
                             "outcome=unknown-account",
                             "login failed: service=account-server address=127.0.0.1 account=fay outcome=not-permitted",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=disabled",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=disabled",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=disabled",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=disabled",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=disabled",
                             "login failed: service=account-server address=127.0.0.1 account=ed outcome=wrong-password",
                         }));
    ScriptedChannel outsider({"LOGIN#dora#dpw"});
    EXPECT_EQ(Run(outsider, "192.0.2.9"), (std::vector<std::string>{"-ERR illeglar connection"}));
}

TEST_F(AccountSessionTest, LockedAddressIsRefusedWithoutAPasswordCheck) {
    MakeAccount("dora", "[System]\r\nPassword=dpw\r\n");
    for (int i = 0; i < kMaxFailedLogins; ++i) EXPECT_EQ(Run({"LOGIN#dora#guess"}).front(), "-ERR password incorrect");
    EXPECT_EQ(login_log.back(), "login locked: address=127.0.0.1 failures=10 within=300s refused for 300s");
    // The right password no longer helps, in any request or session.
    for (const char* request : {"LOGIN#dora#dpw", "AUTH#dora#dpw", "ACCOUNT#dora#dpw", "LOGIN#nobody#x"})
        EXPECT_EQ(Run({request}), (std::vector<std::string>{"-ERR password incorrect"})) << request;
    EXPECT_EQ(Run({"SYSADMIN#administrator#x"}), (std::vector<std::string>{"-ERR illeglar user"}));
    EXPECT_EQ(login_log.size(), std::size_t(kMaxFailedLogins + 1));  // the lock is logged once
    // The front end's own lock is not its users': a login that forwards
    // the user's address counts against that address.
    EXPECT_EQ(Run({"LOGIN#dora:10.9.9.9#dpw"}).back(), "+OK");
}

TEST_F(AccountSessionTest, SignUpsAreLimitedPerForwardedAddress) {
    for (int i = 0; i < kMaxSignUps; ++i)
        ASSERT_EQ(Run(SignUpLines("user" + std::to_string(i) + ":10.9.9.9", "pw")).back(), "+OK") << i;
    // A refused name takes no place.
    EXPECT_EQ(Run(SignUpLines("user0:10.9.9.8", "pw")).front(), "-ERR The user account already exists.");
    EXPECT_EQ(Run(SignUpLines("late:10.9.9.9", "pw")), (std::vector<std::string>{"-ERR register service closed"}));
    EXPECT_EQ(login_log.back(), "sign-up refused: address=10.9.9.9 via=127.0.0.1 account=late accounts=10 within=3600s");
    EXPECT_EQ(AccountExists("late"), AccountPresence::kMissing);
    EXPECT_EQ(Run(SignUpLines("late:10.9.9.8", "pw")).back(), "+OK");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Account late created by sign-up: address=10.9.9.8 via=127.0.0.1");
}

TEST_F(AccountSessionTest, NewAccountNamesArePlain) {
    struct Case {
        std::string name;
        std::string reply;  // the reply to the first line
    };
    const Case cases[] = {
        {"jo.smith_2-x", "+OK"},
        {"x", "+OK"},
        {"caf\xc3\xa9", "-ERR the account including some illegal letter"},
        {std::string("ab\0cd", 5), "-ERR the account including some illegal letter"},
        {".dot", "-ERR the account including some illegal letter"},
        {"dot.", "-ERR the account including some illegal letter"},
        {"a..b", "-ERR the account including some illegal letter"},
        {"tab\there", "-ERR the account including some illegal letter"},
        {"_hidden", "-ERR The user account already exists."},
        {"ALL", "-ERR The user account already exists."},
        {"a@example.test", "-ERR the account including some illegal letter"},
        {"a b", "-ERR the account including some illegal letter"},
        {std::string(76, 'n'), "+OK"},
        {std::string(77, 'n'), "-ERR user name is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.name));
        const auto replies = Run(SignUpLines(c.name, "pw"));
        EXPECT_EQ(replies.front(), c.reply);
        EXPECT_EQ(replies.back() == "+OK" && replies.size() == 10, c.reply == "+OK");
    }
    EXPECT_TRUE(CheckAccountPassword("jo.smith_2-x", "pw"));
    EXPECT_EQ(AccountExists("ab"), AccountPresence::kMissing);  // the NUL did not cut the name
}

TEST_F(AccountSessionTest, DispatchRules) {
    struct Case {
        std::string line;
        std::string reply;
    };
    const Case cases[] = {
        {"signup#x", "-ERR unknown command"},
        {"SIGNUP#" + std::string(261, 'x'), "-ERR user name is too long"},
        {"LOGIN#" + std::string(522, 'x'), "-ERR user name is too long"},
        {"ACCOUNT#" + std::string(514, 'x'), "-ERR account is too long"},
        {"SYSADMIN#" + std::string(513, 'x'), "-ERR account is too long"},
        {"LOGIN#a b#x", "-ERR no such user"},
        {"LOGIN#a/b#x", "-ERR the account including some illegal letter"},
        {"LOGIN#:x#y", "-ERR the account is empty"},
        {"DELETE#nohash", "-ERR no password"},
        {"", "-ERR unknown command"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run({c.line}).front(), c.reply) << c.line.substr(0, 20);
}

}  // namespace
}  // namespace quorvex::accountserver

namespace quorvex::accountserver {
namespace {

TEST(TableKindTest, NamesAndSynonymsWithoutCase) {
    struct Case {
        const char* name;
        TableRights rights;
    };
    const Case cases[] = {
        {"EmailPOP3RemoteInfo", TableRights::kAccount}, {"pop3info", TableRights::kAccount},
        {"EMAILFORWARDINFO", TableRights::kAccount},    {"ForwardInfo", TableRights::kAccount},
        {"EmailFilterInfo", TableRights::kAccount},     {"filterinfo", TableRights::kAccount},
        {"EmailAutoReplyInfo", TableRights::kAccount},  {"AutoReplyInfo", TableRights::kAccount},
        {"accountinfo", TableRights::kAccount},         {"AccountListInfo", TableRights::kDomainList},
        {"DOMAININFO", TableRights::kDomainTable},
    };
    for (const Case& c : cases) {
        const TableKind* kind = FindTableKind(c.name);
        ASSERT_NE(kind, nullptr) << c.name;
        EXPECT_EQ(kind->rights, c.rights) << c.name;
    }
    EXPECT_EQ(FindTableKind("Domain"), nullptr);
    EXPECT_EQ(FindTableKind(""), nullptr);
}

// Every command of the domain administrator session against a login of
// each level, on an account of its own domain, of another domain and of a
// higher level.
class AdminRightsTest : public AccountSessionTest {
protected:
    void SetUp() override {
        AccountSessionTest::SetUp();
        UseConfig("[System]\r\nDominame=a.test\r\nDomainNameType=1\r\n[DomainName]\r\nCount=2\r\nDN1=a.test\r\nDN2=b.test\r\n");
        MakeAccount("user@a.test", "[System]\r\nPassword=upw\r\nPermission=0\r\n");
        MakeAccount("admin@a.test", "[System]\r\nPassword=apw\r\nPermission=1\r\n");
        MakeAccount("boss@a.test", "[System]\r\nPassword=bpw\r\nPermission=2\r\n");
        MakeAccount("user@b.test", "[System]\r\nPassword=bupw\r\nPermission=0\r\n");
    }
};

TEST_F(AdminRightsTest, DomainAdministratorCommands) {
    EXPECT_EQ(Run({"ACCOUNT#user@a.test#upw"}), (std::vector<std::string>{"-ERR illeglar user"}));
    struct Case {
        const char* login;
        const char* command;
        const char* reply;
    };
    const Case cases[] = {
        {"admin@a.test#apw", "SIZE user@b.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "RETR user@b.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "CONF user@b.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "DELE user@b.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "CREA x@b.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "CREA x", "-ERR illeglar user name"},
        {"admin@a.test#apw", "SIZE user", "-ERR illeglar user name"},
        {"admin@a.test#apw", "CONF boss@a.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "DELE boss@a.test", "-ERR Delete failed"},
        {"admin@a.test#apw", "SIZE ../user@a.test", "-ERR illeglar user name"},
        {"admin@a.test#apw", "CREA a b@a.test", "-ERR the account including some illegal letter"},
        {"admin@a.test#apw", "CREA @a.test", "-ERR the account is empty"},
        {"admin@a.test#apw", "SIZE user@a.test", "+OK 20 0"},
        {"boss@a.test#bpw", "CONF admin@a.test", "+OK "},
        {"boss@a.test#bpw", "SIZE user@b.test", "-ERR illeglar user name"},
    };
    for (const Case& c : cases) {
        const auto replies = Run({std::string("ACCOUNT#") + c.login, c.command});
        ASSERT_EQ(replies.size(), 2u) << c.command;
        EXPECT_EQ(replies[1], c.reply) << c.login << " " << c.command;
    }
    EXPECT_TRUE(FolderExists(home_.File("mail/boss@a.test")));
    EXPECT_FALSE(FolderExists(home_.File("mail/x@b.test")));
    // A refused CREA made nothing and logs no account as made.
    for (const std::string& line : log) EXPECT_EQ(line.find("created"), std::string::npos) << line;
}

TEST_F(AdminRightsTest, SystemAdministratorLoginIsNotAnAccount) {
    EXPECT_EQ(Run({"SYSADMIN#boss@a.test#bpw"}), (std::vector<std::string>{"-ERR illeglar user"}));
    EXPECT_EQ(Run({"SYSADMIN#administrator#Wm4TqR8sLpZ2vYc7NbKd0x"}), (std::vector<std::string>{"-ERR illeglar user"}));
    EXPECT_EQ(Run({"SYSADMIN#admin/istrator#x"}),
              (std::vector<std::string>{"-ERR the account including some illegal letter"}));
    EXPECT_EQ(Run({"SYSADMIN#:x#x"}), (std::vector<std::string>{"-ERR the account is empty"}));
    EXPECT_EQ(login_log, (std::vector<std::string>{
                             "login failed: service=account-server address=127.0.0.1 account=boss@a.test "
                             "outcome=unknown-account",
                             "login failed: service=account-server address=127.0.0.1 account=administrator "
                             "outcome=wrong-password",
                         }));
    // An empty password never, not even with its digest stored.
    ProfileFile(Settings()->ConfigIni()).WriteString("System", "Password", HashAccountPassword("", 1));
    EXPECT_EQ(Run({"SYSADMIN#administrator#"}), (std::vector<std::string>{"-ERR illeglar user"}));
}

TEST_F(AdminRightsTest, AdministratorRightsComeOnlyFromAHigherLevel) {
    // A domain administrator's new "admin" is a mail account; a system
    // administrator's is a domain administrator. The same for the account
    // list table.
    DeleteAccount("admin@a.test", nullptr);
    MakeAccount("chief@a.test", "[System]\r\nPassword=cpw\r\nPermission=1\r\n");
    EXPECT_EQ(Run({"ACCOUNT#chief@a.test#cpw", "CREA admin@a.test"}).back(), "+OK ");
    EXPECT_EQ(Accounts().GetPermission("admin@a.test"), 0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Account admin@a.test created by the administrator chief@a.test: address=127.0.0.1");
    DeleteAccount("admin@a.test", nullptr);
    EXPECT_EQ(Run({"ACCOUNT#boss@a.test#bpw", "CREA admin@a.test"}).back(), "+OK ");
    EXPECT_EQ(Accounts().GetPermission("admin@a.test"), 1);
    DeleteAccount("admin@a.test", nullptr);
    const auto by_domain_admin = Run({"AUTH#chief@a.test#cpw", "OPEN a.test, AccountListInfo",
                                      "Value Account, admin@a.test", "AddNew"});
    EXPECT_EQ(by_domain_admin.back(), "+OK ");
    EXPECT_EQ(Accounts().GetPermission("admin@a.test"), 0);
    // Created names follow the plain rule too.
    EXPECT_EQ(Run({"ACCOUNT#boss@a.test#bpw", "CREA a..b@a.test"}).back(),
              "-ERR the account including some illegal letter");
    EXPECT_EQ(Run({"AUTH#boss@a.test#bpw", "OPEN a.test, AccountListInfo", "Value Account, x%y@a.test", "AddNew"})
                  .back(),
              "-ERR Add new failed");
}

// Progress is a login, an accepted line of a dialogue or a command that
// changed something; the ":" suffix of an account text names the client.
TEST_F(AdminRightsTest, ProgressAndForwardedClients) {
    struct Case {
        std::vector<std::string> lines;
        int progress;
        std::vector<std::string> forwarded;
    };
    std::vector<std::string> sign_up = SignUpLines("carol@a.test:10.9.9.3", "pw");
    const Case cases[] = {
        {{"ACCOUNT#admin@a.test:10.9.9.1#apw", "NOOP", "STAT", "XYZ", "SIZE user@a.test", "CREA new@a.test"}, 2,
         {"10.9.9.1"}},
        {{"ACCOUNT#admin@a.test#wrong"}, 0, {}},
        {{"AUTH#boss@a.test#bpw", "OPEN a.test, AccountListInfo", "GetCount", "Value Account, z@a.test", "AddNew",
          "Delete 99"},
         3, {}},
        {sign_up, 9, {"10.9.9.3"}},
    };
    for (const Case& c : cases) {
        activity = {};
        Run(c.lines);
        EXPECT_EQ(activity.progress, c.progress) << c.lines[0];
        EXPECT_EQ(activity.forwarded, c.forwarded) << c.lines[0];
    }
}

TEST_F(AdminRightsTest, TablesPerLevelAndDomain) {
    struct Case {
        const char* login;
        const char* open;
        const char* reply;
    };
    const Case cases[] = {
        {"user@a.test#upw", "OPEN user@a.test, AccountInfo", "+OK "},
        {"user@a.test#upw", "OPEN admin@a.test, ForwardInfo", "-ERR illegal user operation"},
        {"user@a.test#upw", "OPEN a.test, AccountListInfo", "-ERR illegal user operation"},
        {"admin@a.test#apw", "OPEN user@a.test, FilterInfo", "+OK "},
        {"admin@a.test#apw", "OPEN user@b.test, FilterInfo", "-ERR illegal user operation"},
        {"admin@a.test#apw", "OPEN boss@a.test, AccountInfo", "-ERR illegal user operation"},
        {"admin@a.test#apw", "OPEN b.test, AccountListInfo", "-ERR illegal user operation"},
        {"admin@a.test#apw", "OPEN x, DomainInfo", "-ERR illegal user operation"},
        {"boss@a.test#bpw", "OPEN user@b.test, AutoReplyInfo", "+OK "},
        {"boss@a.test#bpw", "OPEN ../../x, AutoReplyInfo", "-ERR open database failed"},
        {"boss@a.test#bpw", "OPEN c.test, AccountListInfo", "-ERR open database failed"},
        {"boss@a.test#bpw", "OPEN x, DomainInfo", "+OK "},
    };
    for (const Case& c : cases) {
        const auto replies = Run({std::string("AUTH#") + c.login, c.open});
        ASSERT_EQ(replies.size(), 2u) << c.open;
        EXPECT_EQ(replies[1], c.reply) << c.login << " " << c.open;
    }
}

}  // namespace
}  // namespace quorvex::accountserver
