// The POP3 class: login, the mailbox figures, the message operations by
// number and by unique id, the marks, and the member table.
#include "webcom/pop3/CPOP3.h"

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "webcom/module/ComConfig.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ReplyText.h"
#include "webcom/pop3/Pop3Texts.h"
#include "webcom/pop3/WorkFolders.h"

namespace quorvex::webcom {

using namespace pop3;

CPOP3::CPOP3(const LibraryLocation& library, AccountLogins& logins) : library_(library), logins_(logins) {
    PrepareComponent(library_);
}

CPOP3::~CPOP3() { CloseSession(); }

void CPOP3::CloseSession() {
    if (connection_.IsOpen() && connection_.SendCommand("QUIT")) {
        std::string line;
        // "+OK bye" (or the commit's failure); the second read ends when
        // the server closes the connection.
        if (connection_.ReadLine(line)) {
            // The page is gone by now: the log is where a refused commit
            // of its deletions, moves and marks is told.
            if (!IsPositiveReply(line)) {
                QUORVEX_ERROR_LOG("the POP3 server did not commit the changes of " + user_name_ + ": " + CutText(line));
            }
            connection_.ReadLine(line);
        }
    }
    connection_.Close();
}

void CPOP3::ClearFetched() {
    attachments_.clear();
    selected_attachment_.clear();
    mail_path_.clear();
    head_path_.clear();
    text_body_path_.clear();
    html_body_path_.clear();
}

bool CPOP3::Command(std::string_view line, std::string& reply, std::string_view failure) {
    if (connection_.SendCommand(line) && connection_.ReadLine(reply)) return true;
    last_response_ = std::string(failure);
    return false;
}

bool CPOP3::TextAllowed(std::string_view text) {
    const LineProblem problem = CheckCommandText(text);
    if (problem == LineProblem::kNone) return true;
    last_response_ = std::string(ProblemReply(problem));
    return false;
}

std::optional<std::int32_t> CPOP3::ResolveMessageNumber(std::string_view uid, std::int32_t folder) {
    const std::string line = "ID " + std::to_string(folder) + " " + std::string(uid);
    if (const LineProblem problem = CheckCommandLine(line); problem != LineProblem::kNone) {
        last_response_ = std::string(ProblemReply(problem));
        return std::nullopt;
    }
    std::string reply;
    if (!Command(line, reply, kSocketError)) return -1;
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return -1;
    }
    const auto numbers = ReplyNumbers(reply, 1);
    return numbers.empty() ? -1 : numbers[0];
}

// ---------------------------------------------------------------------------
// Login.

Status CPOP3::Login(const Arguments& args, Result&) {
    const std::string_view user = args.Text(0);
    const std::string_view password = args.Text(1);
    login_success_ = 0;
    stored_name_.clear();
    work_folder_.clear();
    ClearFetched();
    const ComConfig config = ComConfig::Of(library_);
    const ServerAddress server = config.Pop3Server();
    if (user.size() >= kMaxLoginText || password.size() >= kMaxLoginText) {
        last_response_ = std::string(user.size() >= kMaxLoginText ? kUserTooLong : kPasswordTooLong);
        return kOk;
    }
    if (!TextAllowed(user) || !TextAllowed(password)) return kOk;
    if (!UserFolderName(user)) {
        last_response_ = std::string(kIllegalAccount);
        return kOk;
    }
    login_text_ = std::string(user);
    user_name_ = login_text_.substr(0, login_text_.find(':'));

    // One session per object: the earlier one ends (and commits) first.
    CloseSession();
    switch (connection_.Open(server.host, server.port)) {
        case ServerConnection::OpenResult::kConnected:
            break;
        case ServerConnection::OpenResult::kUnresolved:
        case ServerConnection::OpenResult::kFailed:
            last_response_ = std::string(kConnectFailed);
            return kOk;
    }
    std::string reply;
    if (!connection_.ReadLine(reply)) {
        last_response_ = std::string(kSocketError);
        return kOk;
    }
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return kOk;
    }
    for (const std::string& line : {"USER " + login_text_, "PASS " + std::string(password)}) {
        if (!Command(line, reply, kSocketError)) return kOk;
        // A refused login keeps its connection until the object ends.
        last_response_ = CutText(reply);
        if (!IsPositiveReply(reply)) return kOk;
    }
    if (!Command("PERM", reply, kSocketError)) return kOk;
    if (const auto numbers = ReplyNumbers(reply, 1); !numbers.empty()) permission_ = numbers[0];
    stored_name_ = AskStoredName();
    login_success_ = 1;
    last_response_ = std::string(kLoginSuccess);

    const std::string root = config.Pop3WorkPath();
    MakeWorkFolder(root);
    WorkIn(root, ChooseWorkFolder(root, stored_name_));
    return kOk;
}

std::string CPOP3::AskStoredName() {
    std::string reply;
    // "+OK <name>". Only a spelling of the account that logged in counts: a
    // server naming another one gets no say over whose folder this is.
    if (connection_.SendCommand("NAME") && connection_.ReadLine(reply) && IsPositiveReply(reply) && reply.size() > 4 &&
        SameName(std::string_view(reply).substr(4), user_name_))
        return reply.substr(4);
    return user_name_;
}

void CPOP3::WorkIn(const std::string& root, std::string work_folder) {
    root_prefix_ = root.ends_with('/') ? root : root + "/";
    work_folder_ = std::move(work_folder);
    if (work_folder_.empty()) {
        QUORVEX_ERROR_LOG("no work folder for " + user_name_ + ": the system gave no random bytes for its name");
        return;
    }
    logins_.Record(stored_name_, work_folder_);
}

// ---------------------------------------------------------------------------
// Mailbox figures.

Status CPOP3::GetMailBoxInfo(const Arguments&, Result&) {
    std::string reply;
    if (!Command("STAT", reply, kSocketError)) return kOk;
    last_response_ = CutText(reply);
    if (!IsPositiveReply(reply)) return kOk;
    if (const auto n = ReplyNumbers(reply, 2); n.size() == 2) {
        mail_count_ = n[0];
        inbox_octets_ = n[1];
    } else if (n.size() == 1) {
        mail_count_ = n[0];
    }
    // The further figures keep their values when a reply is refused.
    struct Figure {
        const char* command;
        std::int32_t CPOP3::*first;
        std::int32_t CPOP3::*second;
    };
    static constexpr Figure kFigures[] = {
        {"SIZE", &CPOP3::mailbox_size_, &CPOP3::mailbox_size_used_},
        {"READ -1 0", nullptr, &CPOP3::inbox_read_},
        {"USED 0", nullptr, &CPOP3::inbox_used_},
    };
    for (const Figure& figure : kFigures) {
        if (!connection_.SendCommand(figure.command) || !connection_.ReadLine(reply)) return kOk;
        if (!IsPositiveReply(reply)) continue;
        const auto n = ReplyNumbers(reply, 2);
        if (figure.first != nullptr && !n.empty()) this->*figure.first = n[0];
        if (n.size() == 2) this->*figure.second = n[1];
    }
    return kOk;
}

Status CPOP3::GetMailDomain(const Arguments&, Result& result) {
    result.SetText(ComConfig::Of(library_).Domain());
    return kOk;
}

// ---------------------------------------------------------------------------
// Message operations.

Status CPOP3::DeleteMail(const Arguments& args, Result&) {
    std::string reply;
    if (Command(CommandLine("DELE", {args.Integer(0)}), reply, kSocketError) && !IsPositiveReply(reply))
        last_response_ = CutText(reply);
    return kOk;
}

Status CPOP3::DeleteMailByUID(const Arguments& args, Result&) {
    const auto number = ResolveMessageNumber(args.Text(0), 0);
    if (!number || *number <= 0) return kOk;
    std::string reply;
    if (Command(CommandLine("DELE", {*number}), reply, kSocketError) && !IsPositiveReply(reply)) last_response_ = CutText(reply);
    return kOk;
}

Status CPOP3::DeleteMailEx(const Arguments& args, Result&) {
    last_response_ = std::string(kReplyOk);
    const auto number = ResolveMessageNumber(args.Text(0), 1);
    if (!number || *number <= 0) return kOk;
    std::string reply;
    if (Command(CommandLine("DELE", {*number, 1}), reply, kSocketError))
        last_response_ = IsPositiveReply(reply) ? std::string(kReplyOk) : CutText(reply);
    return kOk;
}

std::optional<std::int32_t> CPOP3::ResolvePresentMessage(std::string_view uid, std::int32_t folder) {
    const auto number = ResolveMessageNumber(uid, folder);
    if (number && *number == -1) last_response_ = std::string(kMessageGone);
    if (!number || *number == -1) return std::nullopt;
    return number;
}

Status CPOP3::Move(std::string_view uid, std::int32_t from, std::int32_t to) {
    last_response_ = std::string(kReplyOk);
    const auto number = ResolvePresentMessage(uid, from);
    if (!number) return kOk;
    std::string reply;
    if (Command(CommandLine("MOVE", {from, to, *number}), reply, kSocketError))
        last_response_ = IsPositiveReply(reply) ? std::string(kReplyOk) : CutText(reply);
    return kOk;
}

Status CPOP3::MoveToInbox(const Arguments& args, Result&) { return Move(args.Text(0), 1, 0); }

Status CPOP3::MoveToFolder(const Arguments& args, Result&) { return Move(args.Text(0), 0, 1); }

Status CPOP3::SetMark(MarkCommand mark, const Arguments& args) {
    const std::int32_t flag = args.Integer(0);
    const std::int32_t folder = args.Integer(2);
    if (folder != 0 && folder != 1) {
        last_response_ = std::string(kInvalidParameter);
        return kFalse;
    }
    const auto number = ResolveMessageNumber(args.Text(1), folder);
    if (!number || *number == -1) return kFalse;
    const char* word = mark == MarkCommand::kReply ? "SETR" : mark == MarkCommand::kForward ? "SETF" : "SETE";
    std::string reply;
    if (!Command(CommandLine(word, {flag, *number, folder}), reply, kSocketError)) return kFalse;
    last_response_ = CutText(reply);
    return IsPositiveReply(reply) ? kOk : kFalse;
}

Status CPOP3::SetReplySign(const Arguments& args, Result&) { return SetMark(MarkCommand::kReply, args); }
Status CPOP3::SetForwardSign(const Arguments& args, Result&) { return SetMark(MarkCommand::kForward, args); }
Status CPOP3::SetReadSign(const Arguments& args, Result&) { return SetMark(MarkCommand::kRead, args); }

Status CPOP3::GetRemotePOP3(const Arguments&, Result&) {
    std::string reply;
    if (Command("REMOTE POP3", reply, kSocketError)) last_response_ = CutText(reply);
    return kOk;
}

// ---------------------------------------------------------------------------
// The member table: names and dispatch ids of the IPOP3 interface, all
// properties read-only.

std::span<const Member<CPOP3>> CPOP3::Members() {
    using P = CPOP3;
    static const Member<CPOP3> kMembers[] = {
        {"LastResponse", 1, kPropertyGet, "", &P::FieldText<&P::last_response_>},
        {"Login", 2, kMethod, "tt", &P::Login},
        {"LoginSuccess", 3, kPropertyGet, "", &P::FieldInteger<&P::login_success_>},
        {"GetMailBoxInfo", 4, kMethod, "", &P::GetMailBoxInfo},
        {"MailCount", 5, kPropertyGet, "", &P::FieldInteger<&P::mail_count_>},
        {"Date", 6, kPropertyGet, "", &P::FieldText<&P::date_>},
        {"Subject", 7, kPropertyGet, "", &P::FieldText<&P::subject_>},
        {"From", 8, kPropertyGet, "", &P::FieldText<&P::from_>},
        {"GetMailData", 9, kMethod, "i", &P::GetMailData},
        {"BodyTxtURL", 10, kPropertyGet, "", &P::GetBodyTxtURL},
        {"BodyHtmlURL", 11, kPropertyGet, "", &P::GetBodyHtmlURL},
        {"GetAttachInfo", 12, kMethod, "i", &P::GetAttachInfo},
        {"AttachURL", 13, kPropertyGet, "", &P::GetAttachURL},
        {"AttachCount", 14, kPropertyGet, "", &P::GetAttachCount},
        {"DeleteMail", 15, kMethod, "i", &P::DeleteMail},
        {"Body", 16, kPropertyGet, "", &P::FieldText<&P::body_>},
        {"AttachFileName", 17, kPropertyGet, "", &P::GetAttachFileName},
        {"CreateUserPath", 18, kMethod, "t", &P::CreateUserPath},
        {"Logout", 19, kMethod, "t", &P::Logout},
        {"MailDomain", 20, kPropertyGet, "", &P::GetMailDomain},
        {"EmailURL", 21, kPropertyGet, "", &P::GetEmailURL},
        {"Size", 22, kPropertyGet, "", &P::FieldInteger<&P::size_>},
        {"IsRead", 23, kPropertyGet, "", &P::FieldInteger<&P::is_read_>},
        {"GetMailInfo", 24, kMethod, "i", &P::GetMailInfo},
        {"UID", 25, kPropertyGet, "", &P::FieldText<&P::uid_>},
        {"DeleteMailByUID", 26, kMethod, "t", &P::DeleteMailByUID},
        {"To", 27, kPropertyGet, "", &P::FieldText<&P::to_>},
        {"HeaderURL", 28, kPropertyGet, "", &P::GetHeaderURL},
        {"Download", 29, kMethod, "to", &P::Download},
        {"MoveToInbox", 30, kMethod, "t", &P::MoveToInbox},
        {"MoveToFolder", 31, kMethod, "t", &P::MoveToFolder},
        {"DeleteMailEx", 32, kMethod, "t", &P::DeleteMailEx},
        {"GetMailDataEx", 33, kMethod, "t", &P::GetMailDataEx},
        {"GetRemotePOP3", 34, kMethod, "", &P::GetRemotePOP3},
        {"GetMailInfoEx", 35, kMethod, "t", &P::GetMailInfoEx},
        {"Cc", 36, kPropertyGet, "", &P::FieldText<&P::cc_>},
        {"MailBoxSize", 37, kPropertyGet, "", &P::FieldInteger<&P::mailbox_size_>},
        {"MailBoxSizeUsed", 38, kPropertyGet, "", &P::FieldInteger<&P::mailbox_size_used_>},
        {"InboxRead", 39, kPropertyGet, "", &P::FieldInteger<&P::inbox_read_>},
        {"InboxUsed", 40, kPropertyGet, "", &P::FieldInteger<&P::inbox_used_>},
        {"Reply", 41, kPropertyGet, "", &P::FieldText<&P::reply_>},
        {"ReadBinFromFile", 42, kPropertyGet, "t", &P::ReadBinFromFile},
        {"ReplySign", 43, kPropertyGet, "", &P::FieldInteger<&P::reply_sign_>},
        {"ForwardSign", 44, kPropertyGet, "", &P::FieldInteger<&P::forward_sign_>},
        {"SetReplySign", 45, kMethod, "iti", &P::SetReplySign},
        {"SetForwardSign", 46, kMethod, "iti", &P::SetForwardSign},
        {"IsReply", 47, kPropertyGet, "", &P::FieldInteger<&P::reply_sign_>},
        {"IsForward", 48, kPropertyGet, "", &P::FieldInteger<&P::forward_sign_>},
        {"Permission", 49, kPropertyGet, "", &P::FieldInteger<&P::permission_>},
        {"MessageID", 50, kPropertyGet, "", &P::FieldText<&P::message_id_>},
        {"SetReadSign", 51, kMethod, "iti", &P::SetReadSign},
    };
    return kMembers;
}

}  // namespace quorvex::webcom
