// Composing and writing the welcome message.
#include "mailmodel/WelcomeMail.h"

#include <algorithm>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/MailDate.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"
#include "mailmodel/AppServices.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/compose/MessageText.h"
#include "mailmodel/mime/EncodedWordCoder.h"

namespace quorvex {

namespace {

constexpr std::string_view kWelcomeSubject = "Welcome to QuorvexServer";
constexpr std::string_view kWelcomeBody =
    "QuorvexServer mail server\r\n"
    "Made by the Quorvex project\r\n"
    "Support: support@quorvex.example\r\n"
    "Web: https://www.quorvex.example/";

void RegisterWelcomeStrings() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterStringResource(IDS_WELCOME_BODY, kWelcomeBody);
        RegisterStringResource(IDS_WELCOME_SUBJECT, kWelcomeSubject);
    });
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool HasEightBit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

WelcomeMail DefaultWelcomeMail() {
    RegisterWelcomeStrings();
    const std::string domain = GetDomainName();
    WelcomeMail mail;
    mail.sender = ReadProfileString(JoinPath(ProgramFolder(), "config.ini"), "Admin", "Sender", "admin@" + domain);
    mail.recipient = "newuser@" + domain;
    mail.subject = LoadTranslatedString(IDS_WELCOME_SUBJECT);
    mail.body = LoadTranslatedString(IDS_WELCOME_BODY);
    mail.charset = LanguageCharset();
    return mail;
}

std::optional<std::string> FormatWelcomeMail(const WelcomeMail& mail, std::string_view domain,
                                             std::string_view date) {
    if (HasLineBreak(mail.sender) || HasLineBreak(mail.recipient) || HasLineBreak(mail.subject) ||
        HasLineBreak(domain) || HasLineBreak(date)) {
        QUORVEX_ERROR_LOG("the welcome message's sender, recipient or subject holds a line break; not written");
        return std::nullopt;
    }
    std::string text;
    text.append("Received: from WelcomeEmail (localhost [127.0.0.1])\r\n\tby ").append(domain);
    text.append(" with QuorvexServer 5.3 SMTP; ").append(date).append("\r\n");
    text.append("Received: from localhost (localhost [127.0.0.1])\r\n\tby ").append(domain);
    text.append(" with QuorvexServer 5.2 SMTP; ").append(date).append("\r\n");
    text.append("From: ").append(mail.sender).append("\r\n");
    text.append("To: ").append(mail.recipient).append("\r\n");
    text.append("Date: ").append(date).append("\r\n");
    const bool declared = !mail.charset.empty() && !HasLineBreak(mail.charset) &&
                          (HasEightBit(mail.sender) || HasEightBit(mail.recipient) || HasEightBit(mail.subject) ||
                           HasEightBit(mail.body));
    if (declared && HasEightBit(mail.subject)) {
        text.append("Subject: ").append(mime::EncodeWords(mail.subject, 'B', mail.charset)).append("\r\n");
    } else {
        text.append("Subject: ").append(mail.subject).append("\r\n");
    }
    text.append("X-Mailer: QuorvexServer\r\n");
    if (declared) {
        text.append("MIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"").append(mail.charset);
        text.append("\"\r\nContent-Transfer-Encoding: 8bit\r\n");
    }
    text.append("\r\n");
    if (text.size() > kMaxWelcomeMailBytes) {
        QUORVEX_ERROR_LOG("the welcome message's header is too long; not written");
        return std::nullopt;
    }
    // Stored form: one line end kind, a leading dot doubled (once).
    text.append(compose::DotStuff(compose::NormalizeLineEnds(mail.body))).append("\r\n");
    if (text.size() > kMaxWelcomeMailBytes) {
        // Cut after the last whole line that fits, so the message still
        // ends with a line end and no stuffed dot is split off its line.
        text.resize(text.rfind("\r\n", kMaxWelcomeMailBytes - 2) + 2);
        QUORVEX_ERROR_LOG("the welcome message is longer than 65535 bytes; its end was cut");
    }
    return text;
}

int WriteWelcomeMailFile(const std::string& path, std::string_view sender, std::string_view recipient,
                         std::string_view subject, std::string_view body, std::string_view charset) {
    const WelcomeMail mail{std::string(sender), std::string(recipient), std::string(subject), std::string(body),
                           std::string(charset)};
    const std::optional<std::string> text = FormatWelcomeMail(mail, GetDomainName(), LocalMailDate(std::time(nullptr)));
    if (!text) return 0;
    if (!AtomicWriteFile(path, *text)) {
        QUORVEX_ERROR_LOG("cannot write the welcome message " + path);
        return 0;
    }
    return 1;
}

bool WriteDefaultWelcomeMailFile() {
    const WelcomeMail mail = DefaultWelcomeMail();
    return WriteWelcomeMailFile(JoinPath(ProgramFolder(), kWelcomeMailFileName), mail.sender, mail.recipient,
                                mail.subject, mail.body, mail.charset) == 1;
}

}  // namespace quorvex
