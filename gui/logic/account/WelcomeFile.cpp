#include "gui/logic/account/WelcomeFile.h"

#include <ctime>
#include <fstream>
#include <iterator>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/EncodedWords.h"
#include "common/MailDate.h"
#include "gui/logic/account/BasicInfoForm.h"
#include "mailmodel/AppServices.h"
#include "mailmodel/compose/MessageText.h"

namespace quorvex::gui {

namespace {

std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// The stored form's doubled leading dots made single.
std::string Unstuffed(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    bool line_start = true;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (line_start && body[i] == '.' && i + 1 < body.size() && body[i + 1] == '.') continue;
        out += body[i];
        line_start = body[i] == '\n';
    }
    return out;
}

}  // namespace

WelcomeMail ParseWelcomeFile(std::string_view bytes) {
    WelcomeMail mail;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        const std::string_view line = WithoutLineEnd(bytes.substr(at, next - at));
        if (line.empty()) {
            std::string_view body = bytes.substr(next);
            if (body.ends_with("\r\n")) body.remove_suffix(2);
            else if (body.ends_with("\n")) body.remove_suffix(1);
            mail.body = Unstuffed(body);
            return mail;
        }
        if (StartsWithNoCase(line, "From: ")) mail.sender = line.substr(6);
        else if (StartsWithNoCase(line, "To: ")) mail.recipient = line.substr(4);
        else if (StartsWithNoCase(line, "Subject: ")) mail.subject = DecodeEncodedWords(line.substr(9));
        at = next;
    }
    return mail;
}

WelcomeMail LoadWelcomeForEditing(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return DefaultWelcomeMail();
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return DefaultWelcomeMail();
    return ParseWelcomeFile(bytes);
}

WelcomeSave SaveWelcome(const std::string& path, WelcomeMail mail) {
    mail.sender = SingleLineText(mail.sender);
    mail.recipient = SingleLineText(mail.recipient);
    mail.subject = SingleLineText(mail.subject);
    mail.charset = kTypedTextCharset;
    // The formatter would cut a message that does not fit (after its last
    // whole line); the administrator is told instead.
    const std::optional<std::string> text = FormatWelcomeMail(mail, GetDomainName(), LocalMailDate(std::time(nullptr)));
    if (!text) return WelcomeSave::kFailed;
    if (!text->ends_with(compose::DotStuff(compose::NormalizeLineEnds(mail.body)) + "\r\n")) return WelcomeSave::kTooLong;
    return WriteWelcomeMailFile(path, mail.sender, mail.recipient, mail.subject, mail.body, mail.charset) == 1
               ? WelcomeSave::kSaved
               : WelcomeSave::kFailed;
}

}  // namespace quorvex::gui
