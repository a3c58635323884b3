// An account's auto-reply: its settings in "EmailAutoReply.ini" in the
// account folder (on or off, subject, text), and the reply itself. Replies
// go out with an empty envelope sender and never answer a message that
// has none or that is itself automatic, so two auto-replying servers can
// never keep answering each other.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quorvex {

inline constexpr std::string_view kAutoReplyFile = "EmailAutoReply.ini";
// A reply is composed in "temp_auto_reply_<n>.dat" in the queue folder.
inline constexpr std::string_view kAutoReplyTempPrefix = "temp_auto_reply_";
inline constexpr std::size_t kMaxAutoReplySubject = 255;
inline constexpr std::size_t kMaxAutoReplyBody = 4095;

struct AutoReplySettings {
    AutoReplySettings() = default;
    int Enable = 0;
    std::string Subject;
    std::string Body;  // lines separated by CR LF
};

// How a reply leaves: a fresh number for its temporary file, and local
// delivery of the file to the original sender (with an empty envelope
// sender). Installed by the server.
struct AutoReplyDelivery {
    std::function<int()> next_temp_number;
    std::function<bool(std::string_view recipient, const std::string& file)> deliver;
};

class EmailAutoReply {
public:
    virtual ~EmailAutoReply() = default;

    // Reads the account's settings; a missing file reads as replies off.
    // False when the account's folder cannot be named.
    bool Load(std::string_view account);
    bool GetSettings(AutoReplySettings& out) const {
        out = settings_;
        return true;
    }
    bool SetSettings(const AutoReplySettings& in) {
        settings_ = in;
        return true;
    }
    // Writes Enable, Subject and Body (CR LF pairs as the four characters
    // "\r\n"). False when the folder cannot be named or a text would break
    // the file (a lone CR or LF in Subject, or in Body outside a CR LF pair).
    bool Save() const;

    // Sends the account's reply to `sender` for the message in
    // `original_file` (its header is checked for automatic mail; may be
    // empty when there is no message to look at). Returns false when
    // nothing could be loaded or sent, true when replies are off, the
    // message must not be answered, or the reply was delivered or queued.
    bool SendAutoReply(std::string_view account, std::string_view sender, const std::string& original_file,
                       const AutoReplyDelivery& delivery);

private:
    std::string account_;
    AutoReplySettings settings_;
};

// True when a message header marks the message as automatic: an
// Auto-Submitted value other than "no", or Precedence bulk, list or junk.
bool IsAutomaticMessage(std::string_view header_block);

}  // namespace quorvex
