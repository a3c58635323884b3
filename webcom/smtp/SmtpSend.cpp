// SendMail: every command line is built and checked and every attachment
// resolved before anything is made; the message is composed into this
// object's own file before the connection opens (the same bytes reach the
// server, and a long compose cannot run into its idle limit); then one
// dialogue with the web-mail HELO. Uploads are deleted only once the server
// has accepted the message, so a page can try again after a failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/Translation.h"
#include "mailmodel/compose/MailAddress.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "webcom/module/ComConfig.h"
#include "webcom/net/ReplyText.h"
#include "webcom/net/ServerConnection.h"
#include "webcom/smtp/CSMTP.h"
#include "webcom/smtp/ComposeFiles.h"
#include "webcom/smtp/SmtpTexts.h"

namespace quorvex::webcom {

using namespace smtp;

namespace {

constexpr std::size_t kSendBlock = 1 << 18;

std::string AddressOf(std::string_view text) { return compose::MailAddress().SplitAddress(text).Address; }

}  // namespace

struct CSMTP::Envelope {
    std::vector<std::string> commands;  // HELO, MAIL FROM and every RCPT TO, in order
    std::string attachments;            // the resolved files, ";"-separated, for the composer
    std::string message_path;
};

Status CSMTP::SendMail(const Arguments&, Result&) {
    if (Gated()) return kOk;
    if (compose_folder_.empty()) {
        last_response_ = std::string(kIllegalAccount);
        return kOk;
    }
    Envelope envelope;
    if (!BuildEnvelope(envelope) || !ComposeMessage(envelope)) return kOk;
    Transmit(envelope);
    // The message file is made anew by every send; the uploads stay unless
    // the server took the message.
    ::unlink(envelope.message_path.c_str());
    return kOk;
}

bool CSMTP::BuildEnvelope(Envelope& envelope) {
    envelope.commands.push_back("HELO " + user_text_ + ":" + std::to_string(save_message_) + ":" +
                                std::to_string(save_draft_));
    envelope.commands.push_back("MAIL FROM:<" + AddressOf(from_) + ">");
    for (const std::string* list : {&to_, &cc_, &bcc_})
        for (const std::string& item : compose::SplitAddressList(*list))
            envelope.commands.push_back("RCPT TO:<" + AddressOf(item) + ">");
    for (const std::string& line : envelope.commands) {
        if (const LineProblem problem = CheckCommandLine(line); problem != LineProblem::kNone) {
            last_response_ = std::string(ProblemReply(problem));
            return false;
        }
    }
    // Attachments come from this account's compose folder or, once the
    // account has logged in with its password in this process, from the
    // work folder of that login (an attachment of a fetched message being
    // forwarded); nowhere else.
    const auto work_folder = logins_.WorkFolderOf(std::string_view(user_text_).substr(0, user_text_.find(':')));
    const auto files = ResolveAttachments(attachment_, compose_folder_, work_folder);
    if (!files) {
        last_response_ = std::string(kAttachmentNotAllowed);
        return false;
    }
    for (const std::string& file : *files) envelope.attachments += file + ";";
    envelope.message_path = JoinPath(compose_folder_, object_name_ + ".eml");
    return true;
}

bool CSMTP::ComposeMessage(const Envelope& envelope) {
    const std::string& path = envelope.message_path;
    const std::string& header_from = from_uid_.empty() ? from_ : from_uid_;
    // Reply-To: none without a Reply; with one, FromUID wins when it is set.
    const std::string* reply_to = reply_.empty() ? nullptr : from_uid_.empty() ? &reply_ : &from_uid_;
    compose::CMessageGenerator generator(
        compose::ComposerEnvironment::WebMail(ComponentLanguageFile(library_.folder)));
    bool composed = false;
    // Another page of the account removes the compose folder when it finds it
    // empty; the folder is made again, and the compose tried once more, if
    // that happened just now.
    for (int attempt = 0; attempt < 2 && !composed; ++attempt) {
        MakeFolders(compose_folder_, kSharedFolderMode);
        composed = generator.GenerateMail(path.c_str(), body_.c_str(), subject_.c_str(), envelope.attachments.c_str(),
                                          kMailer, header_from.c_str(), to_.c_str(), cc_.c_str(), bcc_.c_str(),
                                          reply_to != nullptr ? reply_to->c_str() : nullptr, 0, content_type_.c_str(),
                                          &message_id_, 0) != 0;
        if (!composed && FolderExists(compose_folder_)) break;
    }
    if (!composed) {
        ::unlink(path.c_str());
        last_response_ = std::string(kGenerateError) + "\"" + path + "\"";
        return false;
    }
    return true;
}

bool CSMTP::Transmit(const Envelope& envelope) {
    UniqueFd file(::open(envelope.message_path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0) {
        last_response_ = std::string(kFileOpenError);
        return false;
    }
    size_ = static_cast<std::int32_t>(std::min<off_t>(st.st_size, std::numeric_limits<std::int32_t>::max()));

    ServerConnection connection;
    const ServerAddress server = ComConfig::Of(library_).SmtpServer();
    if (connection.Open(server.host, server.port) != ServerConnection::OpenResult::kConnected) {
        last_response_ = std::string(kConnectFailed);
        return false;
    }
    std::string reply;
    // Reads a reply that must begin with `code`; anything else ends the call.
    const auto expect = [&](std::string_view code) {
        if (!connection.ReadLine(reply)) {
            last_response_ = std::string(kSocketError);
            return false;
        }
        if (reply.starts_with(code)) return true;
        last_response_ = std::string(kWrongCodePrefix) + reply;
        connection.Close();
        return false;
    };
    const auto exchange = [&](std::string_view line, std::string_view code) {
        if (connection.SendCommand(line)) return expect(code);
        last_response_ = std::string(kSocketError);
        return false;
    };

    if (!expect("220")) return false;
    for (const std::string& line : envelope.commands)
        if (!exchange(line, "250")) return false;
    if (!exchange("DATA", "354")) return false;

    // The file is in the stored form, dot-stuffed once: it goes out as it
    // stands, and the end of the data is the first line holding a single dot.
    std::string block(kSendBlock, '\0');
    std::string tail;  // the last two bytes sent
    for (;;) {
        const ssize_t n = ::read(file.get(), block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            last_response_ = std::string(kFileOpenError);
            return false;
        }
        if (n == 0) break;
        const std::string_view data(block.data(), static_cast<std::size_t>(n));
        if (!connection.SendData(data)) {
            last_response_ = std::string(kSocketError);
            return false;
        }
        tail.append(data.substr(data.size() >= 2 ? data.size() - 2 : 0));
        if (tail.size() > 2) tail.erase(0, tail.size() - 2);
    }
    if (!connection.SendData(tail == "\r\n" ? ".\r\n" : "\r\n.\r\n")) {
        last_response_ = std::string(kSocketError);
        return false;
    }
    if (!expect("250")) return false;
    uid_ = reply.size() >= 4 && reply[3] == ' ' ? reply.substr(4) : std::string();
    RemoveSentFiles(envelope.message_path);
    if (!exchange("QUIT", "221")) return false;
    last_response_ = std::string(kSendSuccessful);
    return true;
}

void CSMTP::RemoveSentFiles(const std::string& message_path) {
    ::unlink(message_path.c_str());
    RemoveListedUploads(attachment_, compose_folder_);
    DeleteFolderTree(upload_.UploadPath());
    RemoveFolderIfEmpty(compose_folder_);
}

}  // namespace quorvex::webcom
