// The first-line dispatch and the account requests.
#include "accountserver/AccountSession.h"

#include <array>

#include "accountserver/AccountProtocol.h"
#include "accountserver/DomainAdminSession.h"
#include "accountserver/SysAdminSession.h"
#include "accountserver/TableSession.h"
#include "common/AccountServerTags.h"
#include "common/AsciiCase.h"
#include "common/PasswordDigest.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/EmailPOP3Remote.h"
#include "mailmodel/account/NewAccountName.h"
#include "mailmodel/provision/AccountProvision.h"

namespace quorvex::accountserver {

namespace {

namespace tags = account_tags;

constexpr std::string_view kReplySignUpClosed = "-ERR register service closed";
constexpr std::string_view kReplyAccountExists = "-ERR The user account already exists.";

using Handler = void (*)(AccountServerSession&, RequestContext&, std::string_view);

// One row per request: its prefix, the refusal that its length rule gives
// before the handler runs, and the handler.
struct RequestRule {
    std::string_view prefix;
    bool any_case;
    // Reply when the request may not run, else empty.
    std::string_view (*refusal)(std::string_view line, std::string_view text);
    Handler handler;
};

std::string_view SignUpRefusal(std::string_view, std::string_view text) {
    if (Settings()->EnableSignUp == 0) return kReplySignUpClosed;
    if (text.size() > kMaxSignUpText) return kReplyUserNameTooLong;
    return {};
}
std::string_view CredentialRefusal(std::string_view, std::string_view text) {
    return text.size() > kMaxCredentialText ? kReplyUserNameTooLong : std::string_view();
}
std::string_view SessionRefusal(std::string_view line, std::string_view) {
    return line.size() > kMaxSessionLine ? std::string_view("-ERR account is too long") : std::string_view();
}
std::string_view NoRefusal(std::string_view, std::string_view) { return {}; }

const std::array<RequestRule, 7> kRequests{{
    {tags::kSignUp, false, SignUpRefusal, [](AccountServerSession& s, RequestContext&, std::string_view t) { s.HandleSignUp(t); }},
    {tags::kLogin, false, CredentialRefusal, [](AccountServerSession& s, RequestContext&, std::string_view t) { s.HandleLogin(t); }},
    {tags::kUpdate, false, CredentialRefusal, [](AccountServerSession& s, RequestContext&, std::string_view t) { s.HandleUpdate(t); }},
    {tags::kDelete, false, CredentialRefusal, [](AccountServerSession& s, RequestContext&, std::string_view t) { s.HandleDelete(t); }},
    {tags::kDomainAdmin, false, SessionRefusal, [](AccountServerSession&, RequestContext& c, std::string_view t) { DomainAdminSession(c).Run(t); }},
    {tags::kSysAdmin, false, SessionRefusal, [](AccountServerSession&, RequestContext& c, std::string_view t) { SysAdminSession(c).Run(t); }},
    {tags::kTableAuth, true, NoRefusal, [](AccountServerSession&, RequestContext& c, std::string_view t) { TableSession(c).Run(t); }},
}};

// The first remote box of the list into `values`, or a default one.
void TakeFirstBox(const CEmailPOP3Remote& boxes, AccountLines& values) {
    RemotePop3Mailbox box;
    if (!boxes.GetMailbox(0, box)) box = RemotePop3Mailbox{};
    if (boxes.GetCount() == 0) box.LeaveCopy = 0;
    values.pop3_server = box.POP3Server;
    values.pop3_account = box.POP3Account;
    values.pop3_password = box.POP3Password;
    values.leave_copy = box.LeaveCopy;
}

// The received box replaces the first entry of the list or is appended
// (an all-empty box is not appended). False when the list was not stored.
bool StoreFirstBox(CEmailPOP3Remote& boxes, const AccountLines& values) {
    RemotePop3Mailbox box;
    box.Enable = 1;
    box.LeaveCopy = values.leave_copy;
    box.POP3Server = values.pop3_server.substr(0, kMaxBoxText);
    box.POP3Account = values.pop3_account.substr(0, kMaxBoxText);
    box.POP3Password = values.pop3_password.substr(0, kMaxBoxText);
    if (boxes.GetCount() > 0) {
        if (!boxes.SetMailbox(0, box)) return false;
    } else if (!box.POP3Server.empty() || !box.POP3Account.empty() || !box.POP3Password.empty()) {
        if (!boxes.AddMailbox(box)) return false;
    }
    return boxes.Save();
}

// The sign-up dialogue's reply to a name the new-account decision refused.
std::string_view SignUpRefusalReply(NewAccountRefusal refusal) {
    switch (refusal) {
        case NewAccountRefusal::kNoDomain: return kReplyNoMailDomain;
        case NewAccountRefusal::kUnknownDomain: return kReplyNoSuchDomain;
        case NewAccountRefusal::kEmpty: return kReplyAccountEmpty;
        case NewAccountRefusal::kTooLong: return kReplyUserNameTooLong;
        case NewAccountRefusal::kTaken:
        case NewAccountRefusal::kReserved: return kReplyAccountExists;
        case NewAccountRefusal::kNone:
        case NewAccountRefusal::kRefusedCharacter:
        case NewAccountRefusal::kDomainNotAllowed:
        case NewAccountRefusal::kNotPlain: break;
    }
    return kReplyIllegalLetter;
}

}  // namespace

void AccountServerSession::Run() {
    if (!context_.web_mail()) {
        context_.Log("ACCOUNT CONNECTION REFUSED " + context_.client());
        context_.Reply(kReplyIllegalConnection);
        return;
    }
    std::string line;
    if (!context_.ReadWhole(line)) return;
    // A sign-up takes its name whole, so that a NUL byte in it refuses the
    // name instead of cutting it; every other request reads its line as the
    // C string it always was.
    if (!line.starts_with(tags::kSignUp)) {
        if (const auto nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    }
    for (const RequestRule& rule : kRequests) {
        const bool match = rule.any_case ? StartsWithNoCase(line, rule.prefix) : line.starts_with(rule.prefix);
        if (!match) continue;
        const std::string_view text = std::string_view(line).substr(rule.prefix.size());
        if (const std::string_view refusal = rule.refusal(line, text); !refusal.empty()) {
            context_.Reply(refusal);
            return;
        }
        rule.handler(*this, context_, text);
        return;
    }
    context_.Reply(kReplyUnknownCommand);
}

bool AccountServerSession::ReadAccountLines(bool update, AccountLines& values) {
    for (std::size_t index = 0; index <= kTaggedLineCount; ++index) {
        std::string line;
        if (!context_.Read(line)) return false;
        if (const auto error = TakeTaggedLine(line, index, update, values)) {
            context_.Reply(*error);
            return false;
        }
        context_.Progress();
        // The closing "QUIT" is answered by the request once it is done.
        if (index < kTaggedLineCount && !context_.Reply(kReplyOk)) return false;
    }
    return true;
}

void AccountServerSession::HandleSignUp(std::string_view text) {
    context_.ShowMessage("ACCOUNT SIGNUP", text);
    const auto settings = Settings();
    const NewAccountName decided = DecideNewAccountName(context_.CutForwardedSuffix(text), *settings, Accounts());
    if (!decided.accepted()) {
        context_.Reply(SignUpRefusalReply(decided.refusal));
        return;
    }
    // One client makes a bounded number of accounts: the place is taken
    // before the dialogue and given back unless the account is made.
    SignUpLimit::Reservation place = context_.signups().Reserve(context_.Origin(), decided.name);
    if (!place) {
        context_.Reply(kReplySignUpClosed);
        return;
    }
    if (!context_.Reply(kReplyOk)) return;
    AccountLines values;
    if (!ReadAccountLines(false, values)) return;

    AccountRecord record;
    record.UserName = values.user_name;
    record.Comment = values.comment;
    record.Password = HashAccountPassword(values.password, 1);
    record.InterMail = values.contact_mail;
    record.Volume = decided.mailbox_size;
    record.TimeStamp = AccountTimeStampNow();
    record.Disabled = settings->NeedAuthorized;
    record.Max = 0;
    record.IsGroup = 0;
    // Signing up never makes an administrator, whatever the name: rights
    // are given by a system administrator only.
    record.Permission = 0;
    // Created only: a sign-up that lost a race never takes over the
    // account the other one made.
    switch (StoreAccount(decided.name, record, AccountStoreMode::kCreateOnly, context_.notices())) {
        case AccountStoreResult::kStored:
            break;
        case AccountStoreResult::kExists:
            context_.Reply(kReplyAccountExists);
            return;
        default:
            context_.Reply(kReplyCreateFailed);
            return;
    }
    CEmailPOP3Remote boxes;
    if (!boxes.Load(decided.name) || !StoreFirstBox(boxes, values)) {
        // Nothing half-made stays behind.
        DeleteAccount(decided.name, context_.notices());
        context_.Reply(kReplyCreateFailed);
        return;
    }
    place.Keep();
    context_.Log(CreatedAccountLine(decided.name, "sign-up", context_.Origin()));
    context_.Reply(kReplyOk);
}

void AccountServerSession::HandleLogin(std::string_view text) {
    const auto account = context_.CheckCredentials(text, "ACCOUNT LOGIN");
    if (!account) return;
    if (!context_.Reply(kReplyOk)) return;
    AccountRecord record;
    LoadAccount(*account, record);
    CEmailPOP3Remote boxes;
    if (!boxes.Load(*account)) return;
    AccountLines values;
    TakeFirstBox(boxes, values);
    values.password = record.Password;
    values.user_name = record.UserName;
    values.comment = record.Comment;
    values.contact_mail = record.InterMail;
    for (std::size_t index = 0; index < kTaggedLineCount; ++index)
        if (!context_.Reply(FormatTaggedLine(index, values))) return;
    if (!context_.Reply(kReplyOk)) return;
    context_.Notify(NoticeId::WM_UPDATE_ACCOUNT, Accounts().StoredName(*account));
}

void AccountServerSession::HandleUpdate(std::string_view text) {
    const auto account = context_.CheckCredentials(text, "ACCOUNT MODIFY");
    if (!account) return;
    if (!context_.Reply(kReplyOk)) return;
    AccountLines values;
    if (!ReadAccountLines(true, values)) return;

    AccountRecord record;
    CEmailPOP3Remote boxes;
    if (!LoadAccount(*account, record) || !boxes.Load(*account)) {
        context_.Reply(kReplyUpdateFailed);
        return;
    }
    record.UserName = values.user_name;
    record.Comment = values.comment;
    record.InterMail = values.contact_mail;
    record.Password = HashAccountPassword(values.password, 1);
    record.TimeStamp = AccountTimeStampNow();
    // "+OK" only once both the remote box and the account are stored.
    if (!StoreFirstBox(boxes, values) || !SaveAccount(*account, record, context_.notices())) {
        context_.Reply(kReplyUpdateFailed);
        return;
    }
    if (!context_.Reply(kReplyOk)) return;
    context_.Notify(NoticeId::WM_UPDATE_ACCOUNT, Accounts().StoredName(*account));
}

void AccountServerSession::HandleDelete(std::string_view text) {
    const auto account = context_.CheckCredentials(text, "ACCOUNT DESTROY");
    if (!account) return;
    if (!context_.Reply(kReplyOk)) return;
    std::string line;
    if (!context_.Read(line)) return;
    if (!line.starts_with(tags::kQuit)) {
        context_.Reply(kReplyAbnormalQuit);
        return;
    }
    context_.Reply(DeleteAccount(*account, context_.notices()) ? kReplyOk : kReplyDeleteFailed);
}

}  // namespace quorvex::accountserver
