// The POP3 class's work area: user and work folders, message summaries
// (TOP) and fetched messages (RETR) written into message folders and split
// by the MIME parser, the URLs of those files, attachments and downloads.
// Data from the server is stored without its POP3 dot-stuffing, line for
// line, so mail.eml holds exactly the message a POP3 client receives.
#include <unistd.h>

#include <cstring>
#include <exception>

#include "common/ErrorLog.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "mailmodel/mime/MessageFile.h"
#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/summary/HeaderDecoding.h"
#include "webcom/module/ComConfig.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ReplyText.h"
#include "webcom/pop3/CPOP3.h"
#include "webcom/pop3/FileDownload.h"
#include "webcom/pop3/MailDataUrl.h"
#include "webcom/pop3/MessageData.h"
#include "webcom/pop3/Pop3Texts.h"
#include "webcom/pop3/WorkFolders.h"

namespace quorvex::webcom {

using namespace pop3;

namespace {

constexpr const char* kMailFile = "mail.eml";
constexpr const char* kHeadFile = "Head.txt";
constexpr const char* kSummaryFile = "head.txt";
constexpr std::size_t kMaxUrlBase = 260;

// The Date header in local time; a date without a zone keeps its clock
// time, and a text that is no date is shown as it is.
std::string FormatMessageDate(const std::string& date) {
    return ConvertMailDate(date, MissingZone::kLocalClock).value_or(date);
}

// "WORD n" for a message of the inbox, "WORD n 1" for one of folder 1.
std::string MessageCommand(std::string_view word, std::int32_t number, bool folder1) {
    return folder1 ? CommandLine(word, {number, 1}) : CommandLine(word, {number});
}

}  // namespace

std::string CPOP3::MessageFolder(std::int32_t number, bool folder1) const {
    std::string name = folder1 ? "_" : "";
    name += std::to_string(number);
    return JoinPath(work_folder_, name);
}

void CPOP3::TakeHeaderFields(const mime::MimeMessageParser& parser, bool folder1) {
    date_ = FormatMessageDate(parser.Date);
    subject_ = CutText(parser.Subject);
    from_ = parser.From;
    to_ = parser.To;
    cc_ = parser.Cc;
    message_id_ = parser.MessageId;
    if (folder1) reply_ = parser.ReplyTo;  // only messages of folder 1 show Reply
}

void CPOP3::WriteFileError(const std::string& path, int error) {
    last_response_ = CutText(std::string(kWriteFileError) + path + " " + std::strerror(error));
}

void CPOP3::RefuseOversized(std::string_view reply, std::int32_t number) {
    last_response_ = std::string(reply);
    QUORVEX_ERROR_LOG("the POP3 server sent more for message " + std::to_string(number) +
                      " than it can hold; the call ended and the connection was closed");
}

// ---------------------------------------------------------------------------
// User and work folders.

UserFolderAction CPOP3::CheckUserFolderCall(std::string_view user_text) {
    const UserFolderAction action = DecideUserFolderCall(user_text, login_success_ != 0 ? user_name_ : std::string());
    switch (action) {
        case UserFolderAction::kIgnore:
        case UserFolderAction::kOwn:
            break;
        case UserFolderAction::kIllegalAccount:
            last_response_ = std::string(kIllegalAccount);
            break;
        case UserFolderAction::kNotLoggedIn:
            last_response_ = std::string(kNotLoggedIn);
            break;
        case UserFolderAction::kOtherAccount:
            last_response_ = std::string(kNotOwnAccount);
            break;
    }
    return action;
}

Status CPOP3::CreateUserPath(const Arguments& args, Result&) {
    const std::string_view user_text = args.Text(0);
    const UserFolderAction action = CheckUserFolderCall(user_text);
    // A text Logout ignores for its length names no account here.
    if (action == UserFolderAction::kIgnore) last_response_ = std::string(kIllegalAccount);
    if (action == UserFolderAction::kNotLoggedIn || action == UserFolderAction::kOtherAccount)
        QUORVEX_ERROR_LOG("CreateUserPath for " + std::string(user_text.substr(0, user_text.find(':'))) + " refused (" +
                          last_response_ + "): nothing was deleted or made");
    if (action != UserFolderAction::kOwn) return kOk;
    // The account's one user folder, named as the account list spells it.
    const std::string root = ComConfig::Of(library_).Pop3WorkPath();
    MakeWorkFolder(root);
    ClearFetched();
    WorkIn(root, ResetUserFolder(root, stored_name_));
    last_response_ = std::string(kReplyOk);
    return kOk;
}

bool CPOP3::HasWorkFolder() {
    if (!work_folder_.empty()) return true;
    last_response_ = std::string(kNotLoggedIn);
    return false;
}

Status CPOP3::Logout(const Arguments& args, Result&) {
    if (CheckUserFolderCall(args.Text(0)) != UserFolderAction::kOwn) return kOk;
    // The account's user folder, and any an earlier version made for
    // another spelling of it.
    DeleteUserFolder(ComConfig::Of(library_).Pop3WorkPath(), stored_name_);
    // Nothing more is fetched into the folder that is gone, nor attached
    // from it; a new Login gives the object a new one.
    logins_.Forget(stored_name_);
    work_folder_.clear();
    ClearFetched();
    last_response_ = std::string(kReplyOk);
    return kOk;
}

// ---------------------------------------------------------------------------
// Summaries and fetched messages.

bool CPOP3::ReadListing(std::int32_t number, bool folder1, std::string_view read_command, std::int64_t& listed) {
    std::string reply;
    listed = 0;
    if (!Command(MessageCommand("LIST", number, folder1), reply, kSocketError)) return false;
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return false;
    }
    if (const auto n = ReplyNumbers(reply, 2); n.size() == 2) listed = size_ = n[1];
    if (!Command(MessageCommand("UIDL", number, folder1), reply, kSocketError)) return false;
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return false;
    }
    if (auto word = ReplyWordAfterNumber(reply, kMaxText)) uid_ = std::move(*word);
    if (!Command(read_command, reply, kSocketError)) return false;
    const auto n = ReplyNumbers(reply, 2);
    is_read_ = IsPositiveReply(reply) && n.size() == 2 ? n[1] : 0;
    return true;
}

Status CPOP3::MessageSummary(std::int32_t number, bool folder1) {
    if (!HasWorkFolder()) return kOk;
    std::int64_t listed = 0;
    if (!ReadListing(number, folder1, MessageCommand("READ", number, folder1), listed)) return kOk;
    std::string reply;
    for (const auto& [word, sign] : {std::pair{"REPL", &reply_sign_}, std::pair{"FORW", &forward_sign_}}) {
        if (!Command(MessageCommand(word, number, folder1), reply, kSocketError)) return kOk;
        const auto n = ReplyNumbers(reply, 2);
        *sign = IsPositiveReply(reply) && n.size() == 2 ? n[1] : 0;
    }
    const std::string top = folder1 ? CommandLine("TOP", {number, 0, 1}) : CommandLine("TOP", {number, 0});
    if (!Command(top, reply, kSocketError)) return kOk;
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return kOk;
    }
    const std::string folder = MessageFolder(number, folder1);
    MakeWorkFolder(folder);
    const std::string path = JoinPath(folder, kSummaryFile);
    const CopyLimits limits{kMaxHeaderBytes, kMaxHeaderBytes};
    OutputFile head;
    // When the file cannot be made the header still comes: it is taken off
    // the connection, so the next command reads its own reply.
    const bool created = head.Create(path);
    const CopyResult copied = CopyMessageData(connection_, created ? &head : nullptr, nullptr, limits);
    const bool written = created && head.Finish();
    if (copied != CopyResult::kComplete || !written) {
        ::unlink(path.c_str());
        if (copied == CopyResult::kTooLarge) RefuseOversized(kHeaderTooLarge, number);
        else if (copied == CopyResult::kConnectionFailed) last_response_ = std::string(kReadMailError);
        else WriteFileError(path, head.error());
        return kOk;
    }
    try {
        mime::MessageFile file(path);
        mime::MimeMessageParser parser(mime::MimeParserLimits::WebMail(ComponentCharset(library_.folder)));
        if (file.IsOpen()) parser.ReadHeaders(file);
        TakeHeaderFields(parser, folder1);
    } catch (const std::exception& e) {
        QUORVEX_ERROR_LOG(e.what());
    }
    ::unlink(path.c_str());
    return kOk;
}

Status CPOP3::GetMailInfo(const Arguments& args, Result&) { return MessageSummary(args.Integer(0), false); }

Status CPOP3::GetMailInfoEx(const Arguments& args, Result&) {
    if (!HasWorkFolder()) return kOk;
    last_response_ = std::string(kReplyOk);
    const auto number = ResolveMessageNumber(args.Text(0), 1);
    if (!number || *number <= 0) return kOk;
    return MessageSummary(*number, true);
}

Status CPOP3::FetchMessage(std::int32_t number, bool folder1) {
    if (!HasWorkFolder()) return kOk;
    // The summary asks "READ n" of the inbox, the fetch "READ n 0".
    std::int64_t listed = 0;
    if (!ReadListing(number, folder1, CommandLine("READ", {number, folder1 ? 1 : 0}), listed)) return kOk;
    std::string reply;
    if (!Command(MessageCommand("RETR", number, folder1), reply, kRetrSocketError)) return kOk;
    if (!IsPositiveReply(reply)) {
        last_response_ = CutText(reply);
        return kOk;
    }
    // A folder of its own per fetch: nothing of an earlier message that had
    // this number stays beside the new files.
    const std::string folder = MessageFolder(number, folder1);
    DeleteFolderTree(folder);
    MakeWorkFolder(folder);
    const std::string mail_path = JoinPath(folder, kMailFile);
    const std::string head_path = JoinPath(folder, kHeadFile);
    const CopyLimits limits{MessageByteLimit(listed), kMaxHeaderBytes};
    OutputFile mail;
    OutputFile head;
    const bool created = mail.Create(mail_path) && head.Create(head_path);
    // Without its files the message is still taken off the connection, so
    // the next command reads its own reply.
    const CopyResult copied =
        CopyMessageData(connection_, created ? &mail : nullptr, created ? &head : nullptr, limits);
    const bool mail_written = mail.Finish();
    const bool head_written = head.Finish();
    if (copied != CopyResult::kComplete) {
        // Nothing of a message cut short stays for the pages to show.
        DeleteFolderTree(folder);
        if (copied == CopyResult::kTooLarge) RefuseOversized(kMessageTooLarge, number);
        else WriteFileError(mail_path, connection_.LastError());
        return kOk;
    }
    if (!created) {
        const bool mail_failed = mail.error() != 0;
        WriteFileError(mail_failed ? mail_path : head_path, mail_failed ? mail.error() : head.error());
        return kOk;
    }
    if (!mail_written || !head_written) {
        WriteFileError(mail_written ? head_path : mail_path, mail_written ? head.error() : mail.error());
        return kOk;
    }

    selected_attachment_.clear();
    const std::string url_base =
        std::string(kMailDataPrefix) + RelativeToRoot(folder, root_prefix_).substr(0, kMaxUrlBase);
    mime::MimeMessageParser parser(mime::MimeParserLimits::WebMail(ComponentCharset(library_.folder)));
    try {
        parser.ParseFile(folder, kMailFile, url_base);
    } catch (const std::exception& e) {
        QUORVEX_ERROR_LOG(e.what());
    }
    mail_path_ = RelativeToRoot(mail_path, root_prefix_);
    head_path_ = RelativeToRoot(head_path, root_prefix_);
    text_body_path_ = parser.TextBodyPath.empty() ? std::string() : RelativeToRoot(parser.TextBodyPath, root_prefix_);
    html_body_path_ = parser.HtmlBodyPath.empty() ? std::string() : RelativeToRoot(parser.HtmlBodyPath, root_prefix_);
    body_ = parser.BodyText;
    TakeHeaderFields(parser, folder1);
    attachments_ = parser.AttachmentPaths;
    last_response_ = std::string(kReadMailSuccessful);
    return kOk;
}

Status CPOP3::GetMailData(const Arguments& args, Result&) {
    last_response_ = std::string(kReplyOk);
    return FetchMessage(args.Integer(0), false);
}

Status CPOP3::GetMailDataEx(const Arguments& args, Result&) {
    if (!HasWorkFolder()) return kOk;
    last_response_ = std::string(kReplyOk);
    const auto number = ResolvePresentMessage(args.Text(0), 1);
    return number ? FetchMessage(*number, true) : kOk;
}

// ---------------------------------------------------------------------------
// URLs and attachments.

Status CPOP3::GetEmailURL(const Arguments&, Result& result) {
    result.SetText(MailDataUrl(mail_path_));
    return kOk;
}

Status CPOP3::GetHeaderURL(const Arguments&, Result& result) {
    result.SetText(MailDataUrl(head_path_));
    return kOk;
}

Status CPOP3::GetBodyTxtURL(const Arguments&, Result& result) {
    result.SetText(MailDataUrl(text_body_path_));
    return kOk;
}

Status CPOP3::GetBodyHtmlURL(const Arguments&, Result& result) {
    result.SetText(html_body_path_.empty() ? std::string() : MailDataUrl(html_body_path_));
    return kOk;
}

Status CPOP3::GetAttachURL(const Arguments&, Result& result) {
    result.SetText(MailDataUrl(selected_attachment_));
    return kOk;
}

Status CPOP3::GetAttachFileName(const Arguments&, Result& result) {
    result.SetText(std::string(BaseName(selected_attachment_)));
    return kOk;
}

Status CPOP3::GetAttachCount(const Arguments&, Result& result) {
    result.SetInteger(static_cast<std::int32_t>(attachments_.size()));
    return kOk;
}

Status CPOP3::GetAttachInfo(const Arguments& args, Result&) {
    const std::int32_t index = args.Integer(0);
    if (index >= 1 && static_cast<std::size_t>(index) <= attachments_.size())
        selected_attachment_ = RelativeToRoot(attachments_[static_cast<std::size_t>(index) - 1], root_prefix_);
    else
        selected_attachment_.clear();
    return kOk;
}

// ---------------------------------------------------------------------------
// Downloads.

std::optional<ServableFile> CPOP3::OpenOwnFile(std::string_view name) const {
    // Without a login the work folder is empty, which holds nothing.
    return OpenServableFile(library_.folder, name, work_folder_);
}

Status CPOP3::Download(const Arguments& args, Result&) {
    const std::unique_ptr<IResponse> response = ResponseFromValue(args.Raw(1));
    if (!response) {
        last_response_ = std::string(kDownloadError);
        return kOk;
    }
    last_response_ = std::string(kReplyOk);
    auto file = OpenOwnFile(args.Text(0));
    if (!file || !SendFile(*response, *file)) last_response_ = std::string(kDownloadError);
    return kOk;
}

Status CPOP3::ReadBinFromFile(const Arguments& args, Result& result) {
    last_response_ = std::string(kReplyOk);
    auto file = OpenOwnFile(args.Text(0));
    std::string bytes;
    if (!file || !ReadFile(*file, bytes)) {
        last_response_ = std::string(kDownloadError);
        return kOk;
    }
    result.SetBytes(std::move(bytes));
    return kOk;
}

}  // namespace quorvex::webcom
