// The SMTP client dialogue over the shared socket helpers.
#include "servers/outgoing/SmtpClientSession.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "common/Base64.h"
#include "servers/outgoing/SmtpClientText.h"

namespace quorvex::outgoing {

namespace {

// A reply longer than this is not waited for any further.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
constexpr std::size_t kDataBlock = 64 * 1024;

}  // namespace

void SmtpClientSession::Fail(std::string_view text) {
    last_failure_ = {HostFailureKind::kAnswer, std::string(text.substr(0, kMaxResponseText))};
}

void SmtpClientSession::FailTimedOut() { last_failure_ = HostFailure::TimedOut(); }

void SmtpClientSession::Close() {
    socket_.reset();
    connected_ = false;
    pending_.clear();
}

bool SmtpClientSession::Send(std::string_view bytes) {
    if (!socket_.valid() || !SendBuffer(socket_.get(), bytes, options_.timeouts)) {
        FailTimedOut();
        return false;
    }
    return true;
}

bool SmtpClientSession::ExpectReply(int code) {
    if (!socket_.valid()) {
        FailTimedOut();
        return false;
    }
    std::size_t length = CompleteReplyLength(pending_);
    std::string chunk;
    while (length == 0) {
        if (pending_.size() > kMaxReplyBytes) {
            Fail(pending_);
            return false;
        }
        const IoStatus status = ReceiveWithTimeout(socket_.get(), chunk, 4096, ReceiveMode::kNormal, options_.timeouts);
        if (status != IoStatus::kOk || chunk.empty()) {
            // Closed, silent past the idle limit, stopped or broken: the
            // server will not answer.
            FailTimedOut();
            return false;
        }
        pending_ += chunk;
        length = CompleteReplyLength(pending_);
    }
    std::string reply = pending_.substr(0, length - 2);
    pending_.erase(0, length);
    last_code_ = ReplyCode(reply);
    if (last_code_ != code) {
        Fail(reply);
        return false;
    }
    return true;
}

bool SmtpClientSession::Open(std::string_view host, int port, std::string_view helo_name) {
    last_failure_ = {};
    Close();
    local_address_.clear();
    socket_ = ConnectToHost(host, port, options_.proxy, &local_address_, options_.timeouts);
    if (!socket_.valid()) {
        FailTimedOut();
        return false;
    }
    connected_ = true;
    bool ok = ExpectReply(220);
    if (ok && options_.authenticate) {
        ok = Send(EhloCommand(helo_name)) && ExpectReply(250) && Send("AUTH LOGIN\r\n") && ExpectReply(334) &&
             Send(Base64Encode(options_.user) + "\r\n") && ExpectReply(334) &&
             Send(Base64Encode(options_.password) + "\r\n") && ExpectReply(235);
    } else if (ok) {
        ok = Send(HeloCommand(helo_name)) && ExpectReply(250);
    }
    if (!ok) Close();
    return ok;
}

bool SmtpClientSession::SendRecipient(std::string_view recipient) {
    return Send(RcptToCommand(recipient)) && ExpectReply(250);
}

bool SmtpClientSession::SendData(const std::string& file) {
    UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) {
        Fail(file + " open error");
        connected_ = false;
        return false;
    }
    std::string block(kDataBlock, '\0');
    std::string data;
    DataLineEnds line_ends;
    for (;;) {
        const ssize_t n = ::read(in.get(), block.data(), block.size());
        if (n < 0) {
            Fail(file + " read error");
            return false;
        }
        if (n == 0) break;
        data.clear();
        line_ends.Convert(std::string_view(block.data(), static_cast<std::size_t>(n)), data);
        if (!data.empty() && !Send(data)) return false;
        // A server that speaks during the data has refused it.
        pollfd watch{socket_.get(), POLLIN, 0};
        if (::poll(&watch, 1, 0) > 0) {
            if (ExpectReply(250)) Fail("server replied during the message data");
            return false;
        }
    }
    data.clear();
    line_ends.Finish(data);
    return Send(data) && ExpectReply(250);
}

bool SmtpClientSession::SendMessage(const std::string& file, std::string_view sender, std::string_view recipient) {
    return Send(MailFromCommand(sender)) && ExpectReply(250) && SendRecipient(recipient) && Send("DATA\r\n") &&
           ExpectReply(354) && SendData(file);
}

bool SmtpClientSession::Quit(bool send) {
    bool answered = false;
    if (send && connected_ && socket_.valid()) {
        SendBuffer(socket_.get(), "QUIT\r\n", options_.timeouts);
        answered = ExpectReply(221);
    }
    Close();
    return answered;
}

}  // namespace quorvex::outgoing
