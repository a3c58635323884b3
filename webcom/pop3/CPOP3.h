// The POP3 class ("QuorvexCOM.POP3"): one account's mailbox for web pages,
// over one connection to the mail program's POP3 server and its extended
// commands: mailbox figures, message summaries, deleting, moving between
// the inbox (folder 0) and the second folder (folder 1), the read, replied
// and forwarded marks; and the work area the pages show messages from:
// fetched messages split into header, body and attachment files, their
// "/maildata/" URLs and downloads. Messages of folder 1 are addressed by
// unique id, which the server's "ID" command turns into a number.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "webcom/dispatch/ComObject.h"
#include "webcom/module/AccountLogins.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ServerConnection.h"

namespace quorvex::mime {
class MimeMessageParser;
}

namespace quorvex::webcom::pop3 {
struct ServableFile;
enum class UserFolderAction;
}

namespace quorvex::webcom {

class CPOP3 final : public DispatchObject<CPOP3> {
public:
    // `library` names the folder of the configuration and the error log;
    // `logins` is told of every login with a password, and of its logout.
    CPOP3(const LibraryLocation& library, AccountLogins& logins);
    // Ends the session with QUIT, which applies the deletions, moves and
    // marks of the session on the server.
    ~CPOP3() override;

    static std::span<const Member<CPOP3>> Members();

    // Session and mailbox commands.
    Status Login(const Arguments& args, Result& result);
    Status GetMailBoxInfo(const Arguments& args, Result& result);
    Status GetMailInfo(const Arguments& args, Result& result);
    Status GetMailInfoEx(const Arguments& args, Result& result);
    Status DeleteMail(const Arguments& args, Result& result);
    Status DeleteMailByUID(const Arguments& args, Result& result);
    Status DeleteMailEx(const Arguments& args, Result& result);
    Status MoveToInbox(const Arguments& args, Result& result);
    Status MoveToFolder(const Arguments& args, Result& result);
    Status SetReplySign(const Arguments& args, Result& result);
    Status SetForwardSign(const Arguments& args, Result& result);
    Status SetReadSign(const Arguments& args, Result& result);
    Status GetRemotePOP3(const Arguments& args, Result& result);
    Status GetMailDomain(const Arguments& args, Result& result);

    // Work folders, message files and downloads.
    Status CreateUserPath(const Arguments& args, Result& result);
    Status Logout(const Arguments& args, Result& result);
    Status GetMailData(const Arguments& args, Result& result);
    Status GetMailDataEx(const Arguments& args, Result& result);
    Status GetAttachInfo(const Arguments& args, Result& result);
    Status Download(const Arguments& args, Result& result);
    Status ReadBinFromFile(const Arguments& args, Result& result);
    Status GetEmailURL(const Arguments& args, Result& result);
    Status GetHeaderURL(const Arguments& args, Result& result);
    Status GetBodyTxtURL(const Arguments& args, Result& result);
    Status GetBodyHtmlURL(const Arguments& args, Result& result);
    Status GetAttachURL(const Arguments& args, Result& result);
    Status GetAttachFileName(const Arguments& args, Result& result);
    Status GetAttachCount(const Arguments& args, Result& result);

private:
    const LibraryLocation library_;
    AccountLogins& logins_;
    enum class MarkCommand { kReply, kForward, kRead };

    // Sends a line and reads its reply; on failure LastResponse becomes
    // `failure` (and the connection is closed).
    bool Command(std::string_view line, std::string& reply, std::string_view failure);
    // Refuses a text argument that may not go into a command line; true
    // when it may.
    bool TextAllowed(std::string_view text);
    // The number of the message with this unique id in `folder` ("ID"):
    // -1 when the server does not know it (LastResponse holds its reply);
    // nothing when the id was refused before anything was sent.
    std::optional<std::int32_t> ResolveMessageNumber(std::string_view uid, std::int32_t folder);
    // The same where a message the server does not know ends the call
    // with "-ERR message has gone!".
    std::optional<std::int32_t> ResolvePresentMessage(std::string_view uid, std::int32_t folder);
    // MOVE of the message with this unique id from one folder to the other.
    Status Move(std::string_view uid, std::int32_t from, std::int32_t to);
    Status SetMark(MarkCommand mark, const Arguments& args);
    // LIST, UIDL and READ of one message (the first steps of a summary and
    // of a fetch), with the size LIST gave (0 without one); false when the
    // call has ended.
    bool ReadListing(std::int32_t number, bool folder1, std::string_view read_command, std::int64_t& listed);
    Status MessageSummary(std::int32_t number, bool folder1);
    Status FetchMessage(std::int32_t number, bool folder1);
    void CloseSession();
    void ClearFetched();
    // Makes `work_folder` (below `root`) the folder fetched messages go to,
    // and the one the account's login here may attach from.
    void WorkIn(const std::string& root, std::string work_folder);
    // The account's stored spelling, which the server names ("NAME"); the
    // login's own when the server names none or another account.
    std::string AskStoredName();
    // Whether fetched messages have a work folder to go to: not without a
    // login (LastResponse says so then).
    bool HasWorkFolder();
    // What CreateUserPath and Logout may do with a user text; a refusal is
    // put in LastResponse.
    pop3::UserFolderAction CheckUserFolderCall(std::string_view user_text);
    // Date, Subject, From, To, Cc, MessageID (and Reply for folder 1) from
    // a parsed header.
    void TakeHeaderFields(const mime::MimeMessageParser& parser, bool folder1);
    // The message folder of a message: "<work folder>/<n>" or ".../_<n>".
    std::string MessageFolder(std::int32_t number, bool folder1) const;
    // A file a page names for Download or ReadBinFromFile: only one inside
    // the work folder of the account this object logged in as.
    std::optional<pop3::ServableFile> OpenOwnFile(std::string_view name) const;
    // "-ERR write file error: <path> <system text>".
    void WriteFileError(const std::string& path, int error);
    // Ends a call whose reply data passed its limit: `reply` in
    // LastResponse and a line in the component's log.
    void RefuseOversized(std::string_view reply, std::int32_t number);

    ServerConnection connection_;
    std::string last_response_;
    std::int32_t login_success_ = 0;
    std::int32_t permission_ = 0;
    std::string login_text_;  // the whole text sent with USER
    std::string user_name_;   // the text before its first ":"
    std::string stored_name_; // the account as the server's account list spells it: the user folder's name

    std::int32_t mail_count_ = 0;
    std::int32_t inbox_octets_ = 0;
    std::int32_t mailbox_size_ = 0;
    std::int32_t mailbox_size_used_ = 0;
    std::int32_t inbox_read_ = 0;
    std::int32_t inbox_used_ = 0;

    // The current message.
    std::int32_t size_ = 0;
    std::int32_t is_read_ = 0;
    std::int32_t reply_sign_ = 0;
    std::int32_t forward_sign_ = 0;
    std::string uid_;
    std::string subject_;
    std::string from_;
    std::string to_;
    std::string cc_;
    std::string reply_;
    std::string message_id_;
    std::string date_;

    // The fetched message: the work root with its trailing "/", the work
    // folder (empty without a login), and paths relative to the root.
    std::string root_prefix_;
    std::string work_folder_;
    std::string body_;
    std::string mail_path_;
    std::string head_path_;
    std::string text_body_path_;
    std::string html_body_path_;
    std::vector<std::string> attachments_;  // full paths, in the parser's order
    std::string selected_attachment_;
};

}  // namespace quorvex::webcom
