// The logic behind the account sheet, the group dialog and the welcome
// message editor, on a temporary program folder: which names a new account
// may take and with which message, what saving the Basic Info page keeps,
// the group's two lists and what saving a group keeps, and reading the
// welcome message back.
#include <gtest/gtest.h>

#include "common/AccountName.h"
#include "common/PasswordDigest.h"
#include "gui/logic/LogFiles.h"
#include "gui/logic/account/AccountNameCheck.h"
#include "gui/logic/account/BasicInfoForm.h"
#include "gui/logic/account/GroupEditModel.h"
#include "gui/logic/account/WelcomeFile.h"
#include "gui/support/AccountTexts.h"
#include "mailmodel/MailDataFixture.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/provision/AccountProvision.h"

namespace quorvex::gui {
namespace {

class AccountToolsLogic : public quorvex::testing::MailDataTest {};

TEST_F(AccountToolsLogic, NewAccountNamesAndTheirMessages) {
    MakeAccount("bob");
    const std::string longest(kMaxAccountNameLength, 'n');
    struct Case {
        bool multi;
        std::string name;
        std::string_view message;  // empty: accepted
    };
    const Case cases[] = {
        {false, "alice", {}},
        {false, "a.b-c_d", {}},
        {false, longest, {}},
        {false, longest + "n", kTextNameTooLong},
        {false, "a b", kTextNameCharacters},
        {false, "a\"b", kTextNameCharacters},
        {false, "a`b", kTextNameCharacters},
        {false, "x@y", kTextNameCharacters},  // no domain part in single-domain mode
        {false, "..", kTextNameCharacters},
        {false, ".x", kTextNameCharacters},
        {false, "a\tb", kTextNameCharacters},
        {false, "caf\xc3\xa9", kTextNameCharacters},
        {false, "", kTextNameEmpty},
        {false, "All", kTextNameExists},
        {false, "aLL", kTextNameExists},
        {false, "_x", kTextNameExists},
        {false, "BOB", kTextNameExists},
        {true, "carol", kTextNameNeedsDomain},
        {true, "carol@nowhere.test", kTextDomainMissing},
        {true, "@multi.test", kTextNameEmpty},
        {true, "carol@Multi.Test", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseConfig(c.multi ? "[System]\r\nDominame=example.test\r\nDomainNameType=1\r\n"
                            "[DomainName]\r\nCount=1\r\nDN1=multi.test\r\n"
                          : "[System]\r\nDominame=example.test\r\n");
        EXPECT_EQ(CheckNewAccountName(c.name, *Settings(), Accounts()), c.message);
    }
}

TEST_F(AccountToolsLogic, BasicInfoKeepsTheStoredPasswordUnlessOneIsTyped) {
    AccountRecord stored;
    stored.Password = "$stored-digest$";
    stored.InterMail = "alice@elsewhere.test";
    ASSERT_TRUE(SaveAccount("alice", stored));
    AccountRecord record;
    ASSERT_TRUE(LoadAccount("alice", record));
    BasicInfoFields fields = FieldsFromRecord("alice", record);
    EXPECT_EQ(fields.password, "");  // the digest is never shown
    fields.comment = "desk\r\nPermission=2";
    ASSERT_TRUE(SaveBasicInfo(fields, false, record, *Settings(), Accounts()).saved);
    AccountRecord again;
    ASSERT_TRUE(LoadAccount("alice", again));
    EXPECT_EQ(again.Password, "$stored-digest$");
    EXPECT_EQ(again.Comment, "deskPermission=2");  // one line: no key added
    EXPECT_EQ(again.Permission, 0);
    EXPECT_EQ(again.InterMail, "alice@elsewhere.test");

    fields.password = "new secret";
    fields.password_typed = true;
    ASSERT_TRUE(SaveBasicInfo(fields, false, record, *Settings(), Accounts()).saved);
    EXPECT_TRUE(CheckAccountPassword("alice", "new secret"));
}

TEST_F(AccountToolsLogic, BasicInfoNeverTakesOverAnAccountMadeMeanwhile) {
    AccountRecord page_record;
    BasicInfoFields fields = FieldsFromRecord("", page_record);
    fields.name = "race";
    fields.password = "mine";
    fields.password_typed = true;
    ASSERT_TRUE(CheckNewAccountName(fields.name, *Settings(), Accounts()).empty());  // the page's hand-over check
    AccountRecord other;  // made over the account server in the meantime
    other.Password = HashAccountPassword("theirs", 1);
    ASSERT_TRUE(SaveAccount("race", other));
    const BasicInfoSave result = SaveBasicInfo(fields, true, page_record, *Settings(), Accounts());
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.message, kTextNameExists);
    EXPECT_EQ(result.field, BasicInfoField::kName);
    EXPECT_TRUE(CheckAccountPassword("race", "theirs"));
    // Only an account the sheet made is logged as made, once.
    fields.name = "fresh";
    ASSERT_TRUE(SaveBasicInfo(fields, true, page_record, *Settings(), Accounts()).saved);
    ASSERT_TRUE(SaveBasicInfo(fields, false, page_record, *Settings(), Accounts()).saved);
    const std::string log = ReadFile(LogFilePath(LogKind::kSystem, home_.File("log"), std::time(nullptr)));
    EXPECT_TRUE(log.ends_with("] Account fresh created by the administrator\r\n")) << log;
    EXPECT_EQ(log.find("created"), log.rfind("created")) << log;
    // An account deleted while its sheet is open is not made again.
    ASSERT_TRUE(DeleteAccount("race"));
    fields.name = "race";
    EXPECT_EQ(SaveBasicInfo(fields, false, page_record, *Settings(), Accounts()).message, kTextAccountGone);
    EXPECT_FALSE(Accounts().Exists("race"));
}

TEST(BasicInfoForm, AStoreRefusalNamesTheFieldToCorrect) {
    const std::pair<AccountStoreResult, BasicInfoField> cases[] = {
        {AccountStoreResult::kExists, BasicInfoField::kName},
        {AccountStoreResult::kRefusedName, BasicInfoField::kName},
        {AccountStoreResult::kUnknownDomain, BasicInfoField::kName},
        {AccountStoreResult::kSpaceLimit, BasicInfoField::kMailboxSize},
        {AccountStoreResult::kMissing, BasicInfoField::kNone},
        {AccountStoreResult::kAccountLimit, BasicInfoField::kNone},
        {AccountStoreResult::kWriteFailed, BasicInfoField::kNone},
    };
    for (const auto& [result, field] : cases) EXPECT_EQ(RefusedField(result), field) << static_cast<int>(result);
}

TEST(GroupEditModel, ListsMovesAndTheMemberLimit) {
    GroupEditModel model;
    model.Load({"zed", "Team", "amy", "Bob", "carl"}, "team", {"BOB", "dora"});
    EXPECT_EQ(model.others(), (std::vector<std::string>{"amy", "carl", "zed"}));  // not the group, not a member
    EXPECT_EQ(model.members(), (std::vector<std::string>{"BOB", "dora"}));
    EXPECT_TRUE(model.Add({2, 0, 0, 7}));
    EXPECT_EQ(model.others(), (std::vector<std::string>{"carl"}));
    EXPECT_EQ(model.members(), (std::vector<std::string>{"amy", "BOB", "dora", "zed"}));
    model.Remove({1});
    EXPECT_EQ(model.others(), (std::vector<std::string>{"BOB", "carl"}));
    model.RemoveAll();
    EXPECT_TRUE(model.members().empty());

    std::vector<std::string> many;
    for (int i = 0; i < 130; ++i) many.push_back("user" + std::to_string(1000 + i));
    model.Load(many, "team", {});
    EXPECT_FALSE(model.AddAll());  // only 128 fit; the last two stay
    EXPECT_EQ(model.members().size(), 128u);
    EXPECT_EQ(model.others(), (std::vector<std::string>{"user1128", "user1129"}));
}

TEST_F(AccountToolsLogic, SavingAGroupKeepsWhatTheDialogDoesNotShow) {
    MakeAccount("amy");
    ASSERT_TRUE(SaveGroup({"team", "first", false}, true, {"amy"}, *Settings(), Accounts()).saved);
    AccountRecord created;
    ASSERT_TRUE(LoadAccount("team", created));
    EXPECT_EQ(created.IsGroup, 1);
    EXPECT_EQ(created.UserName, "Mail Group");
    // Changed elsewhere since: size and contact address.
    created.Volume = 77;
    created.InterMail = "team@elsewhere.test";
    ASSERT_TRUE(SaveAccount("team", created));

    ASSERT_TRUE(SaveGroup({"team", "second", true}, false, {}, *Settings(), Accounts()).saved);
    AccountRecord edited;
    ASSERT_TRUE(LoadAccount("team", edited));
    EXPECT_EQ(edited.Comment, "second");
    EXPECT_EQ(edited.Disabled, 1);
    EXPECT_EQ(edited.Volume, 77);
    EXPECT_EQ(edited.InterMail, "team@elsewhere.test");
    EXPECT_EQ(edited.TimeStamp, created.TimeStamp);
    std::vector<std::string> members;
    int count = -1;
    CEmailGroup().LoadMembers("team", members, count);
    EXPECT_EQ(count, 0);

    EXPECT_EQ(SaveGroup({"team", "", false}, true, {}, *Settings(), Accounts()).message, kTextNameExists);
    EXPECT_EQ(SaveGroup({"ghost", "", false}, false, {"amy"}, *Settings(), Accounts()).message, kTextAccountGone);
    EXPECT_FALSE(FolderExists(JoinPath(home_.path(), "mail", "ghost")));
}

TEST(WelcomeFile, ReadsTheFieldsBack) {
    struct Case {
        const char* what;
        std::string file;
        WelcomeMail expected;
    };
    const Case cases[] = {
        {"stored form", "Received: x\r\nFrom: a@x\r\nTo: b@x\r\nSubject: Hi\r\nX-Mailer: Q\r\n\r\nline 1\r\n..dot\r\n",
         {"a@x", "b@x", "Hi", "line 1\r\n.dot"}},
        {"header names in any case", "from: a\r\nTO: b\r\nsubject: s\r\n\r\nbody", {"a", "b", "s", "body"}},
        {"a body ending with a line end keeps the others", "Subject: s\r\n\r\ntext\r\n\r\n", {"", "", "s", "text\r\n"}},
        {"LF lines lose no character", "From: a\nSubject: s\n\nb\n", {"a", "", "s", "b"}},
        {"no empty line: no body", "From: a\r\nSubject: s\r\n", {"a", "", "s", ""}},
        {"short lines", "From: \r\nTo:\r\n\r\n", {"", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const WelcomeMail mail = ParseWelcomeFile(c.file);
        EXPECT_EQ(mail.sender, c.expected.sender);
        EXPECT_EQ(mail.recipient, c.expected.recipient);
        EXPECT_EQ(mail.subject, c.expected.subject);
        EXPECT_EQ(mail.body, c.expected.body);
    }
}

TEST_F(AccountToolsLogic, WelcomeMessageRoundTripAndLimits) {
    const std::string path = home_.File("Welcome.inbox");
    const WelcomeMail missing = LoadWelcomeForEditing(path);
    EXPECT_EQ(missing.recipient, "newuser@example.test");

    const WelcomeMail mail{"admin@example.test", "newuser@example.test", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC",
                           ".leading dot\r\nK\xC3\xB6ln\r\n"};
    ASSERT_EQ(SaveWelcome(path, mail), WelcomeSave::kSaved);
    const WelcomeMail back = LoadWelcomeForEditing(path);
    EXPECT_EQ(back.sender, mail.sender);
    EXPECT_EQ(back.recipient, mail.recipient);
    EXPECT_EQ(back.subject, mail.subject);
    EXPECT_EQ(back.body, mail.body);

    WelcomeMail injected = mail;
    injected.subject = "Hello\r\nBcc: everyone@example.test";
    ASSERT_EQ(SaveWelcome(path, injected), WelcomeSave::kSaved);
    EXPECT_EQ(LoadWelcomeForEditing(path).subject, "HelloBcc: everyone@example.test");

    const std::string before = ReadFile(path);
    WelcomeMail huge = mail;
    huge.body = std::string(70000, 'x');
    EXPECT_EQ(SaveWelcome(path, huge), WelcomeSave::kTooLong);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(SaveWelcome(home_.File("no/such/folder/Welcome.inbox"), mail), WelcomeSave::kFailed);
}

}  // namespace
}  // namespace quorvex::gui
