// The member tables and the call rules of the C interface: names and
// dispatch ids, the kinds a call's flags reach, argument counts and
// conversions, results and the module's object count.
#include <gtest/gtest.h>

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

TEST(Dispatch, NamesGiveTheInterfacesDispatchIds) {
    const char* const pop3[] = {
        "LastResponse", "Login", "LoginSuccess", "GetMailBoxInfo", "MailCount", "Date", "Subject", "From",
        "GetMailData", "BodyTxtURL", "BodyHtmlURL", "GetAttachInfo", "AttachURL", "AttachCount", "DeleteMail",
        "Body", "AttachFileName", "CreateUserPath", "Logout", "MailDomain", "EmailURL", "Size", "IsRead",
        "GetMailInfo", "UID", "DeleteMailByUID", "To", "HeaderURL", "Download", "MoveToInbox", "MoveToFolder",
        "DeleteMailEx", "GetMailDataEx", "GetRemotePOP3", "GetMailInfoEx", "Cc", "MailBoxSize", "MailBoxSizeUsed",
        "InboxRead", "InboxUsed", "Reply", "ReadBinFromFile", "ReplySign", "ForwardSign", "SetReplySign",
        "SetForwardSign", "IsReply", "IsForward", "Permission", "MessageID", "SetReadSign"};
    CPOP3 pop3_object{quorvex::testing::TestLibrary()};
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
    CSMTP smtp_object{quorvex::testing::TestLibrary()};
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
    auto* object = new CPOP3(quorvex::testing::TestLibrary());
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
