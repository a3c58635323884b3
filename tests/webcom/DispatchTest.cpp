// The member tables and the call rules of the C interface: names and
// dispatch ids, the kinds a call's flags reach, argument counts and
// conversions, results and the module's object count.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "WebcomTestEnvironment.h"
#include "ComCall.h"
#include "webcom/admin/CAdmin.h"
#include "webcom/module/ComModule.h"
#include "webcom/pop3/CPOP3.h"
#include "webcom/smtp/CSMTP.h"

namespace quorvex::webcom {
namespace {

using namespace testing;

// Each member as "<class> <member> <kind> (<argument types>) <value type>":
// kind "method", "read-only", "read/write" or "write-only"; a letter per
// type, as the member tables write them; the value type of a written
// property.
std::string Line(const std::string& of, std::string_view member, std::string_view kind, std::string_view params,
                 char value) {
    return of + " " + std::string(member) + " " + std::string(kind) + " (" + std::string(params) + ")" +
           (value != 0 ? std::string(" ") + value : "");
}

// The rows "| `Name` | kind | arguments | value or result |" under each
// heading "## QuorvexCOM.<class>" of docs/webmail-reference.md.
std::set<std::string> ReadReference() {
    static const std::regex kRow(R"(^\| `(\w+)` \| ([a-z/-]+) \| ([^|]*)\| (\w*))");
    static const std::regex kArgument(R"(` (\w+))");
    const auto letter = [](const std::string& type) {
        return type == "text" ? kParamText : type == "integer" ? kParamInteger : type == "object" ? kParamAny : '?';
    };
    std::ifstream in(std::string(QUORVEX_SOURCE_DIR) + "/docs/webmail-reference.md");
    std::set<std::string> lines;
    std::string current, line;
    for (std::smatch row; std::getline(in, line);) {
        if (line.starts_with("## QuorvexCOM.")) current = line.substr(3);
        if (!std::regex_search(line, row, kRow)) continue;
        std::string params;
        const std::string arguments = row[3];
        for (std::sregex_iterator it(arguments.begin(), arguments.end(), kArgument), end; it != end; ++it)
            params += letter((*it)[1]);
        const bool written = row[2] == "read/write" || row[2] == "write-only";
        lines.insert(Line(current, row[1].str(), row[2].str(), params, written ? letter(row[4]) : 0));
    }
    return lines;
}

// The same lines from a class's member table, where a property's getter
// and putter are two rows.
template <class T>
void AddMembers(const std::string& of, std::set<std::string>& lines) {
    std::map<std::string_view, std::pair<int, std::string_view>> seen;  // kinds, the putter's or first row's params
    for (const Member<T>& row : T::Members()) {
        auto& [kinds, params] = seen[row.name];
        if (row.kind == kPropertyPut || (kinds & kPropertyPut) == 0) params = row.params;
        kinds |= row.kind;
    }
    for (const auto& [name, member] : seen) {
        const auto& [kinds, params] = member;
        const bool put = (kinds & kPropertyPut) != 0;
        const char* kind = kinds & kMethod        ? "method"
                           : !put                 ? "read-only"
                           : kinds & kPropertyGet ? "read/write"
                                                  : "write-only";
        lines.insert(Line(of, name, kind, put ? params.substr(0, params.size() - 1) : params, put ? params.back() : 0));
    }
}

TEST(Dispatch, NamesGiveTheInterfacesDispatchIds) {
    const char* const pop3[] = {
        "LastResponse", "Login", "LoginSuccess", "GetMailBoxInfo", "MailCount", "Date", "Subject", "From",
        "GetMailData", "BodyTxtURL", "BodyHtmlURL", "GetAttachInfo", "AttachURL", "AttachCount", "DeleteMail",
        "Body", "AttachFileName", "CreateUserPath", "Logout", "MailDomain", "EmailURL", "Size", "IsRead",
        "GetMailInfo", "UID", "DeleteMailByUID", "To", "HeaderURL", "Download", "MoveToInbox", "MoveToFolder",
        "DeleteMailEx", "GetMailDataEx", "GetRemotePOP3", "GetMailInfoEx", "Cc", "MailBoxSize", "MailBoxSizeUsed",
        "InboxRead", "InboxUsed", "Reply", "ReadBinFromFile", "ReplySign", "ForwardSign", "SetReplySign",
        "SetForwardSign", "IsReply", "IsForward", "Permission", "MessageID", "SetReadSign"};
    AccountLogins logins;
    CPOP3 pop3_object{quorvex::testing::TestLibrary(), logins};
    for (std::size_t i = 0; i < std::size(pop3); ++i) {
        std::int32_t dispid = 0;
        EXPECT_EQ(pop3_object.IdOfName(pop3[i], dispid), kOk) << pop3[i];
        EXPECT_EQ(dispid, static_cast<std::int32_t>(i + 1)) << pop3[i];
    }
    const std::pair<const char*, int> admin[] = {
        {"Login", 1},     {"LastResponse", 2}, {"Destroy", 3},      {"LoginSuccess", 4}, {"LeaveCopy", 5},
        {"POP3Mail", 6},  {"POP3Password", 7}, {"POP3Server", 8},   {"UserName", 9},     {"Modify", 10},
        {"Signup", 11},   {"Comment", 12},     {"Password", 13},    {"POP3Account", 14}, {"Connect", 15},
        {"SendCommand", 16}, {"Close", 18},    {"RecvResponse", 19}, {"Open", 20},       {"AddNew", 21},
        {"Delete", 22},   {"Edit", 23},        {"GetData", 24},     {"Update", 25},      {"Count", 26},
        {"Value", 27},    {"AuthLogin", 28},   {"MoveUp", 29},      {"MoveDown", 30},    {"Find", 31}};
    CAdmin admin_object{quorvex::testing::TestLibrary()};
    for (const auto& [name, expected] : admin) {
        std::int32_t dispid = 0;
        EXPECT_EQ(admin_object.IdOfName(name, dispid), kOk) << name;
        EXPECT_EQ(dispid, expected) << name;
    }
    const std::pair<const char*, int> smtp[] = {
        {"From", 2},          {"LastResponse", 3}, {"SendMail", 6},    {"SMTPUserPath", 10}, {"CreateUserPath", 11},
        {"StartUpload", 12},  {"AddAttach", 13},   {"SetMaxFileSize", 14}, {"SetSubject", 15}, {"SetBcc", 16},
        {"SetBody", 17},      {"SetCc", 18},       {"SetFrom", 19},    {"SetTo", 20},        {"Bcc", 21},
        {"Cc", 22},           {"To", 23},          {"UID", 24},        {"Body", 25},         {"Subject", 26},
        {"ContentType", 27},  {"Reply", 28},       {"SaveMessage", 29}, {"Attachment", 30},  {"SaveDraft", 31},
        {"GetFieldValue", 32}, {"Size", 35},       {"MessageID", 36},  {"FromUID", 37},      {"SetFromUID", 38}};
    CSMTP smtp_object{quorvex::testing::TestLibrary(), logins};
    for (const auto& [name, expected] : smtp) {
        std::int32_t dispid = 0;
        EXPECT_EQ(smtp_object.IdOfName(name, dispid), kOk) << name;
        EXPECT_EQ(dispid, expected) << name;
    }
    std::int32_t dispid = 0;
    EXPECT_EQ(admin_object.IdOfName("lastresponse", dispid), kOk);
    EXPECT_EQ(dispid, 2);
    EXPECT_EQ(admin_object.IdOfName("NoSuchMember", dispid), kUnknownName);
}

// The reference lists every member of the three classes, and nothing else,
// with the kind, arguments and value type its member table gives it.
TEST(Dispatch, TheReferenceListsEveryMemberAsTheTablesDefineIt) {
    std::set<std::string> tables;
    AddMembers<CPOP3>("QuorvexCOM.POP3", tables);
    AddMembers<CSMTP>("QuorvexCOM.SMTP", tables);
    AddMembers<CAdmin>("QuorvexCOM.Admin", tables);
    const std::set<std::string> listed = ReadReference();
    for (const std::string& member : tables) EXPECT_TRUE(listed.contains(member)) << "not listed: " << member;
    for (const std::string& member : listed) EXPECT_TRUE(tables.contains(member)) << "no such member: " << member;
}

TEST(Dispatch, CallsTheTableCannotMatch) {
    CAdmin admin{quorvex::testing::TestLibrary()};
    QvxValue result{};
    const std::vector<QvxValue> none;
    EXPECT_EQ(admin.Invoke(17, kMethod | kPropertyGet, none, result), kMemberNotFound);  // the unused dispid
    EXPECT_EQ(admin.Invoke(999, kMethod, none, result), kMemberNotFound);
    EXPECT_EQ(Invoke(admin, "LastResponse", kPropertyPut, {Text("x")}).status, kMemberNotFound);
    EXPECT_EQ(Invoke(admin, "Password", kPropertyGet).status, kMemberNotFound);  // put only
    EXPECT_EQ(Invoke(admin, "LastResponse", kMethod).status, kMemberNotFound);   // a property is not a method
    EXPECT_EQ(Invoke(admin, "Login", kMethod, {Text("a")}).status, kBadParamCount);
    EXPECT_EQ(Invoke(admin, "Comment", kPropertyGet, {Text("a")}).status, kBadParamCount);
    const QvxValue bytes{kValueBytes, 0, "ab", 2, nullptr};
    EXPECT_EQ(Invoke(admin, "Comment", kPropertyPut, {bytes}).status, kTypeMismatch);
    EXPECT_EQ(Invoke(admin, "LeaveCopy", kPropertyPut, {Text("seven")}).status, kTypeMismatch);
    const QvxValue missing{kValueText, 0, nullptr, 5, nullptr};
    EXPECT_EQ(Invoke(admin, "Comment", kPropertyPut, {missing}).status, kNullPointer);
}

TEST(Dispatch, ArgumentsConvertAndResultsLiveUntilTheNextCall) {
    CAdmin admin{quorvex::testing::TestLibrary()};
    const std::string with_nul("a\0b", 3);
    EXPECT_EQ(Invoke(admin, "Comment", kPropertyPut, {Text(with_nul)}).status, kOk);
    const Call got = Invoke(admin, "Comment", kMethod | kPropertyGet);
    EXPECT_EQ(got.status, kOk);
    EXPECT_EQ(AsText(got.value), with_nul);  // bytes pass unchanged
    EXPECT_EQ(got.value.data[3], '\0');      // and end in a NUL for C callers

    const struct {
        QvxValue in;
        std::int32_t leave_copy;
    } numbers[] = {{Integer(0), 0}, {Text(" 12 "), 12}, {QvxValue{}, 0}, {Integer(-5), -5}};
    for (const auto& n : numbers) {
        ASSERT_EQ(Invoke(admin, "LeaveCopy", kPropertyPut, {n.in}).status, kOk);
        const Call value = Invoke(admin, "LeaveCopy", kPropertyGet);
        EXPECT_EQ(value.value.type, kValueInteger);
        EXPECT_EQ(value.value.i4, n.leave_copy);
    }
    ASSERT_EQ(Invoke(admin, "UserName", kPropertyPut, {Integer(42)}).status, kOk);
    EXPECT_EQ(AsText(Invoke(admin, "UserName", kPropertyGet).value), "42");
    ASSERT_EQ(Invoke(admin, "UserName", kPropertyPut, {QvxValue{}}).status, kOk);
    EXPECT_EQ(AsText(Invoke(admin, "UserName", kPropertyGet).value), "");
    // A method gives an empty result.
    EXPECT_EQ(Invoke(admin, "Close", kMethod).value.type, kValueEmpty);
}

TEST(Dispatch, OverlongFieldValueIsRefusedAndKept) {
    CAdmin admin{quorvex::testing::TestLibrary()};
    ASSERT_EQ(Invoke(admin, "POP3Server", kPropertyPut, {Text("pop.example.test")}).status, kOk);
    EXPECT_EQ(Invoke(admin, "POP3Server", kPropertyPut, {Text(std::string(4097, 'x'))}).status, kOk);
    EXPECT_EQ(AsText(Invoke(admin, "POP3Server", kPropertyGet).value), "pop.example.test");
    EXPECT_EQ(AsText(Invoke(admin, "LastResponse", kPropertyGet).value), "-ERR the text is too long");
    ASSERT_EQ(Invoke(admin, "POP3Server", kPropertyPut, {Text(std::string(4096, 'y'))}).status, kOk);
    EXPECT_EQ(AsText(Invoke(admin, "POP3Server", kPropertyGet).value).size(), 4096u);
}

TEST(Dispatch, ModuleMayUnloadOnlyWithoutObjectsAndLocks) {
    ASSERT_TRUE(CanUnloadModule());
    AccountLogins logins;
    auto* object = new CPOP3(quorvex::testing::TestLibrary(), logins);
    EXPECT_FALSE(CanUnloadModule());
    object->AddRef();
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_FALSE(CanUnloadModule());
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_TRUE(CanUnloadModule());
    LockModule(true);
    EXPECT_FALSE(CanUnloadModule());
    LockModule(false);
    LockModule(false);  // an extra unlock does not go below zero
    LockModule(true);
    EXPECT_FALSE(CanUnloadModule());
    LockModule(false);
    EXPECT_TRUE(CanUnloadModule());
}

}  // namespace
}  // namespace quorvex::webcom
