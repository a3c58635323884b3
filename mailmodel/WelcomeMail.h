// The welcome message that every new mailbox receives: "Welcome.inbox" in
// the program folder, a complete message in the stored (dot-stuffed, CR LF)
// form, written by set-up and by the welcome-message editor and copied into
// each new account's mailbox.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Numbered texts of the welcome message (looked up in the language file).
inline constexpr unsigned IDS_WELCOME_BODY = 32840;
inline constexpr unsigned IDS_WELCOME_SUBJECT = 32841;

inline constexpr std::string_view kWelcomeMailFileName = "Welcome.inbox";
// The whole message is at most this many bytes; a longer one is cut at
// the last line end that fits (and logged).
inline constexpr std::size_t kMaxWelcomeMailBytes = 65535;

struct WelcomeMail {
    std::string sender;
    std::string recipient;
    std::string subject;
    std::string body;  // any line ends; stored with CR LF
    // The charset of the texts. With 8-bit text the message declares it
    // (MIME-Version, Content-Type, 8bit body) and the subject goes out as
    // encoded words; empty: the texts are written as they are.
    std::string charset{};
};

// The standard message: from [Admin] "Sender" of config.ini (default
// "admin@<domain>") to "newuser@<domain>", with the translated subject and
// body texts in the language file's charset.
WelcomeMail DefaultWelcomeMail();

// The message text for the given domain and Date value, or nothing when
// sender, recipient or subject holds a line break (they would add header
// lines) or the header alone does not fit.
std::optional<std::string> FormatWelcomeMail(const WelcomeMail& mail, std::string_view domain,
                                             std::string_view date);


// Writes the message (domain: the primary mail domain, date: now) to the
// file, replacing it atomically; `charset` names the texts' charset. 1 when
// written, 0 otherwise.
int WriteWelcomeMailFile(const std::string& path, std::string_view sender, std::string_view recipient,
                         std::string_view subject, std::string_view body, std::string_view charset = {});

// The standard message into "Welcome.inbox" of the program folder. True
// when written.
bool WriteDefaultWelcomeMailFile();

}  // namespace quorvex
