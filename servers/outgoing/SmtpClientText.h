// The texts of the SMTP client dialogue, built and read without sockets:
// command lines, reply completeness and codes, the host list of a domain
// and the outcome text the queue keeps for a failed delivery.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::outgoing {

inline constexpr int kDefaultSmtpPort = 25;
// Last response texts are kept up to this many characters.
inline constexpr std::size_t kMaxResponseText = 4096;

// Outcome texts the queue recognises.
inline constexpr std::string_view kOutcomeSuccess = "SUCCESS";
inline constexpr std::string_view kOutcomeTimeout = "WSAETIMEDOUT";
inline constexpr std::string_view kOutcomeIllegalAddress = "illegal mail address";
inline constexpr std::string_view kOutcomeCannotConnect = "cannot connect to destination host";

// Delivery results: a temporary failure is tried again, a permanent one is
// reported to the sender at once.
enum class DeliveryResult {
    kFailedTemporary = -1,  // time-outs, unreachable hosts, 4xx refusals, local errors
    kFailedPermanent = 0,   // 5xx refusals, a recipient address without a domain
    kDelivered = 1,
};
inline constexpr DeliveryResult kDelivered = DeliveryResult::kDelivered;
inline constexpr DeliveryResult kFailedTemporary = DeliveryResult::kFailedTemporary;
inline constexpr DeliveryResult kFailedPermanent = DeliveryResult::kFailedPermanent;

// How the last step with a mail host failed: no answer in time, or an
// answer (the server's reply, or a local error) kept as text.
enum class HostFailureKind { kNone, kTimedOut, kAnswer };

struct HostFailure {
    HostFailureKind kind = HostFailureKind::kNone;
    std::string text;  // what logs and records show: "WSAETIMEDOUT" for a time-out

    static HostFailure TimedOut() { return {HostFailureKind::kTimedOut, std::string(kOutcomeTimeout)}; }
    bool empty() const { return text.empty(); }
};

std::string HeloCommand(std::string_view name);
std::string EhloCommand(std::string_view name);
std::string MailFromCommand(std::string_view sender);
std::string RcptToCommand(std::string_view recipient);

// Length of the complete reply at the start of `text` (every line ending
// in CR LF, the last one with no "-" after its code), or 0 while it is
// incomplete.
std::size_t CompleteReplyLength(std::string_view text);

// The numeric code of a reply's first line; -1 when it does not start with
// three digits.
int ReplyCode(std::string_view reply);

// The hosts of a "host preference" list (lines joined by CR LF), in order;
// empty lines are skipped.
std::vector<std::string> HostsOfList(std::string_view list);

// "<error>: <domain>(mx) -\r\n<host list>".
std::string FailureOutcome(std::string_view error, std::string_view domain, std::string_view host_list);

// kFailedPermanent when the outcome reports a permanent refusal (a reply
// starting with "5"); otherwise (a time-out, a 4xx reply, anything else)
// kFailedTemporary.
DeliveryResult FailureResult(HostFailureKind last_failure, std::string_view outcome);

// The stored message on its way to the next server. Stored text is
// dot-stuffed with CR LF line ends, but a bare CR or a bare LF may still be
// in it (mail as another server or a client wrote it); the next server must
// never see one: each goes out as CR LF. The line such a break begins was
// never dot-stuffed, so a dot at its start is doubled: the text reads the
// same after the receiver takes the stuffing off, and no "." line can end
// the data early. Blocks go through in order, cut anywhere.
class DataLineEnds {
public:
    // Appends the converted block to `out`.
    void Convert(std::string_view block, std::string& out);
    // The end of the text: a CR held back at the end of the last block, and
    // then what ends the data: "." CR LF after a line end (or no text at
    // all), else CR LF "." CR LF, so the text gets one final line end.
    void Finish(std::string& out);

private:
    bool pending_cr_ = false;    // the last byte was a CR; a LF may follow
    bool broken_here_ = false;   // the output ends in a CR LF made of a bare CR or LF
    bool at_line_end_ = true;    // the output ends in CR LF (or is empty)
};

// For a domain literal "[a.b.c.d]" the address inside, else the domain.
std::string ImplicitMailHost(std::string_view domain);


}  // namespace quorvex::outgoing
