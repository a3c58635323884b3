// SMTP client texts.
#include "servers/outgoing/SmtpClientText.h"

#include <cctype>

#include "common/AsciiCase.h"

namespace quorvex::outgoing {

std::string HeloCommand(std::string_view name) { return "HELO " + std::string(name) + "\r\n"; }
std::string EhloCommand(std::string_view name) { return "EHLO " + std::string(name) + "\r\n"; }
std::string MailFromCommand(std::string_view sender) { return "MAIL FROM:<" + std::string(sender) + ">\r\n"; }
std::string RcptToCommand(std::string_view recipient) { return "RCPT TO:<" + std::string(recipient) + ">\r\n"; }

std::size_t CompleteReplyLength(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) return 0;
        const std::string_view line = text.substr(start, end - start);
        start = end + 2;
        if (line.size() < 4 || line[3] != '-') return start;
    }
    return 0;
}

int ReplyCode(std::string_view reply) {
    if (reply.size() < 3) return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(reply[i]))) return -1;
        code = code * 10 + (reply[i] - '0');
    }
    return code;
}

std::vector<std::string> HostsOfList(std::string_view list) {
    std::vector<std::string> hosts;
    while (!list.empty()) {
        const std::size_t end = list.find("\r\n");
        std::string_view line = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 2);
        line = line.substr(0, line.find(' '));
        if (!line.empty()) hosts.emplace_back(line.substr(0, 1023));
    }
    return hosts;
}

std::string FailureOutcome(std::string_view error, std::string_view domain, std::string_view host_list) {
    std::string text = std::string(error) + ": " + std::string(domain) + "(mx) -\r\n" + std::string(host_list);
    if (text.size() > kMaxResponseText) text.resize(kMaxResponseText);
    return text;
}

DeliveryResult FailureResult(HostFailureKind last_failure, std::string_view outcome) {
    if (last_failure == HostFailureKind::kTimedOut) return kFailedTemporary;
    if (!outcome.empty() && outcome.front() == '5') return kFailedPermanent;
    return kFailedTemporary;
}

void DataLineEnds::Convert(std::string_view block, std::string& out) {
    out.reserve(out.size() + block.size() + 16);
    for (const char c : block) {
        if (pending_cr_) {
            pending_cr_ = false;
            out += "\r\n";
            at_line_end_ = true;
            if (c == '\n') {
                broken_here_ = false;
                continue;
            }
            broken_here_ = true;  // the CR stood alone
        }
        if (c == '\r') {
            pending_cr_ = true;
            broken_here_ = false;
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
            at_line_end_ = true;
            broken_here_ = true;
            continue;
        }
        if (c == '.' && broken_here_) out += '.';
        out += c;
        broken_here_ = false;
        at_line_end_ = false;
    }
}

void DataLineEnds::Finish(std::string& out) {
    if (pending_cr_) {
        pending_cr_ = false;
        out += "\r\n";
        at_line_end_ = true;
    }
    out += at_line_end_ ? ".\r\n" : "\r\n.\r\n";
}

std::string ImplicitMailHost(std::string_view domain) {
    if (domain.size() > 2 && domain.front() == '[' && domain.back() == ']') {
        return std::string(domain.substr(1, domain.size() - 2));
    }
    return std::string(domain);
}

}  // namespace quorvex::outgoing
