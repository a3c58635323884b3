// Pure functions of the account-server protocol: argument splitting, name
// tests, tagged lines, the table command grammar and the rights rules.
#include <gtest/gtest.h>

#include "accountserver/AccountProtocol.h"
#include "common/AccountName.h"
#include "accountserver/TableRights.h"

namespace quorvex::accountserver {
namespace {

TEST(AccountProtocolTest, CredentialsSplitAtTheLastHash) {
    auto c = SplitCredentials("bob:10.0.0.1#pa#ss");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->account, "bob:10.0.0.1#pa");
    EXPECT_EQ(c->password, "ss");
    EXPECT_FALSE(SplitCredentials("bob"));
    EXPECT_EQ(CutColonSuffix("bob:1.2:3"), "bob:1.2");
    EXPECT_EQ(CutColonSuffix("bob"), "bob");
    EXPECT_EQ(CutColonSuffix("bob:10.0.0.1"), "bob");
    EXPECT_EQ(CutColonSuffix("bob:::1"), "bob");  // an IPv6 front end's user
    EXPECT_EQ(CutColonSuffix("bob@x.test:2001:db8::7"), "bob@x.test");
    EXPECT_EQ(CutColonSuffix("bob:x:2001:db8::7"), "bob:x:2001:db8:");
}

TEST(AccountProtocolTest, RefusedCharacters) {
    for (const char c : std::string("~`!#$%^&*()+=|\\{}[]:;<,>?/\"'")) {
        EXPECT_TRUE(HasRefusedNameCharacter(std::string("a") + c, false)) << c;
    }
    EXPECT_FALSE(HasRefusedNameCharacter("a b@c.d-e_f", false));
    EXPECT_TRUE(HasRefusedNameCharacter("a b", true));
    EXPECT_FALSE(IsAcceptableDomainName(".."));
    EXPECT_FALSE(IsAcceptableDomainName("a/b"));
    EXPECT_FALSE(IsAcceptableDomainName("a@b"));
    EXPECT_FALSE(IsAcceptableDomainName(std::string("a\rb")));
    EXPECT_FALSE(IsAcceptableDomainName(""));
    EXPECT_FALSE(IsAcceptableDomainName(std::string(257, 'x')));
    EXPECT_TRUE(IsAcceptableDomainName("mail.example.test"));
}

TEST(AccountProtocolTest, TaggedLines) {
    struct Case {
        std::size_t index;
        bool update;
        std::string line;
        const char* error;  // null: accepted
    };
    const Case cases[] = {
        {0, false, "PASSWORD#" + std::string(251, 'p'), nullptr},
        {0, false, "PASSWORD#" + std::string(252, 'p'), "-ERR password is too long"},
        {0, false, "password#x", "-ERR no password"},
        {1, false, "USER#x", "-ERR no user name"},
        {1, true, "USER#x", "-ERR no username"},
        {6, false, "POP3PASS#x", "-ERR no pop3 mail"},
        {7, false, "LEAVECOPY#" + std::string(300, '1'), nullptr},
        {7, false, "LEAVE#1", "-ERR no leavecopy set"},
        {8, false, "QUITTING", nullptr},
        {8, false, "quit", "-ERR abnormal quit"},
    };
    for (const Case& c : cases) {
        AccountLines values;
        const auto error = TakeTaggedLine(c.line, c.index, c.update, values);
        if (c.error) {
            ASSERT_TRUE(error) << c.line;
            EXPECT_EQ(*error, c.error);
        } else {
            EXPECT_FALSE(error) << c.line;
        }
    }
    AccountLines values;
    EXPECT_FALSE(TakeTaggedLine("LEAVECOPY#1", 7, false, values));
    EXPECT_EQ(values.leave_copy, 1);
    EXPECT_FALSE(TakeTaggedLine("POP3MAIL#a@b", 5, false, values));
    EXPECT_EQ(FormatTaggedLine(5, values), "POP3MAIL#a@b");
    EXPECT_EQ(FormatTaggedLine(7, values), "LEAVECOPY#1");
}

TEST(AccountProtocolTest, TableCommandGrammar) {
    struct Case {
        const char* line;
        TableVerb verb;
        int number;
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        {"addnew", TableVerb::kAddNew, 0, "", ""},
        {"AddNew ", TableVerb::kUnknown, 0, "", ""},
        {"GETCOUNT", TableVerb::kGetCount, 0, "", ""},
        {"delete 3", TableVerb::kDelete, 3, "3", ""},
        {"Delete", TableVerb::kUnknown, 0, "", ""},
        {"GetData 99999999999999", TableVerb::kGetData, 2147483647, "99999999999999", ""},
        {"GetData -99999999999999", TableVerb::kGetData, -2147483647 - 1, "-99999999999999", ""},
        {"MoveUp x", TableVerb::kMoveUp, 0, "x", ""},
        {"find Bob", TableVerb::kFind, 0, "Bob", ""},
        {"Value Comment", TableVerb::kValueGet, 0, "Comment", ""},
        {"value Comment, a, b", TableVerb::kValueSet, 0, "Comment", "a, b"},
        {"Value Comment,x", TableVerb::kValueGet, 0, "Comment,x", ""},
        {"open a, POP3Info", TableVerb::kOpen, 0, "a, POP3Info", ""},
        {"quit", TableVerb::kQuit, 0, "", ""},
        {"close", TableVerb::kClose, 0, "", ""},
        {"", TableVerb::kUnknown, 0, "", ""},
    };
    for (const Case& c : cases) {
        const TableCommand command = ParseTableCommand(c.line);
        EXPECT_EQ(command.verb, c.verb) << c.line;
        EXPECT_EQ(command.number, c.number) << c.line;
        EXPECT_EQ(command.text, c.text) << c.line;
        EXPECT_EQ(command.value, c.value) << c.line;
    }
    auto open = ParseOpenLine("OPEN bob@a.test, POP3Info");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->argument, "bob@a.test");
    EXPECT_EQ(open->table, "POP3Info");
    EXPECT_FALSE(ParseOpenLine("OPEN bob POP3Info"));
}

// Every table kind against each login level, on its own domain and on
// another, with several and with one mail domain.
TEST(TableRightsTest, Matrix) {
    struct Case {
        TableRights rights;
        int permission;
        const char* login;
        const char* argument;
        int target;
        bool multi;
        bool allowed;
    };
    const auto A = TableRights::kAccount;
    const auto L = TableRights::kDomainList;
    const auto D = TableRights::kDomainTable;
    const Case cases[] = {
        // mail account
        {A, 0, "u@a.test", "U@A.TEST", 0, true, true},
        {A, 0, "u@a.test", "v@a.test", 0, true, false},
        {A, 0, "u@a.test", "u@b.test", 0, true, false},
        {L, 0, "u@a.test", "a.test", 0, true, false},
        {D, 0, "u@a.test", "", 0, true, false},
        // domain administrator
        {A, 1, "adm@a.test", "v@A.test", 0, true, true},
        {A, 1, "adm@a.test", "adm@a.test", 1, true, true},
        {A, 1, "adm@a.test", "v@b.test", 0, true, false},
        {A, 1, "adm@a.test", "v", 0, true, false},
        {A, 1, "adm@a.test", "boss@a.test", 2, true, false},
        {L, 1, "adm@a.test", "a.test", 0, true, true},
        {L, 1, "adm@a.test", "b.test", 0, true, false},
        {L, 1, "adm@a.test", "x@b.test", 0, true, false},
        {L, 1, "adm@a.test", "", 0, true, false},
        {D, 1, "adm@a.test", "", 0, true, false},
        // one mail domain: every plain name is of the one domain
        {A, 1, "adm", "v", 0, false, true},
        {A, 1, "adm", "v@x", 0, false, false},
        {L, 1, "adm", "one.test", 0, false, true},
        {L, 1, "adm", "other.test", 0, false, false},
        // system administrator (and stored levels above 2)
        {A, 2, "boss@a.test", "v@b.test", 0, true, true},
        {L, 2, "boss@a.test", "b.test", 0, true, true},
        {D, 2, "boss@a.test", "", 0, true, true},
        {D, 7, "boss@a.test", "", 0, true, true},
        // a stored level below 0 counts as a mail account
        {D, -1, "x@a.test", "", 0, true, false},
        {A, -1, "x@a.test", "y@a.test", 0, true, false},
    };
    for (const Case& c : cases) {
        RightsQuestion q;
        q.permission = c.permission;
        q.login = c.login;
        q.argument = c.argument;
        q.target_permission = c.target;
        q.multi_domain = c.multi;
        q.single_domain = "one.test";
        EXPECT_EQ(MayOpenTable(c.rights, q), c.allowed) << c.login << " " << c.argument << " " << c.permission;
    }
}

TEST(TableRightsTest, PermissionChanges) {
    struct Case {
        int login, current, wanted;
        bool own, allowed;
    };
    const Case cases[] = {
        {1, 0, 1, false, true},  {1, 0, 2, false, false}, {1, 1, 2, false, false}, {1, 2, 0, false, false},
        {1, 1, 2, true, false},  {1, 1, 0, true, true},   {2, 0, 2, false, true},  {2, 2, 3, true, false},
        {2, 1, -1, false, false}, {0, 0, 1, true, false}, {1, 0, 1, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaySetPermission(c.login, c.current, c.wanted, c.own), c.allowed)
            << c.login << " " << c.current << " " << c.wanted << " " << c.own;
}

}  // namespace
}  // namespace quorvex::accountserver
