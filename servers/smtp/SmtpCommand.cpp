// Command recognition for the SMTP session.
#include "servers/smtp/SmtpCommand.h"

#include <array>
#include <utility>

#include "common/AccountName.h"

namespace quorvex::smtp {

namespace {

constexpr std::array<std::pair<std::string_view, SmtpVerb>, 10> kCommandTable{{
    {"HELO", SmtpVerb::kHelo},
    {"MAIL FROM:", SmtpVerb::kMailFrom},
    {"RSET", SmtpVerb::kRset},
    {"NOOP", SmtpVerb::kNoop},
    {"QUIT", SmtpVerb::kQuit},
    {"RCPT TO:", SmtpVerb::kRcptTo},
    {"DATA", SmtpVerb::kData},
    {"EHLO", SmtpVerb::kEhlo},
    {"AUTH LOGIN", SmtpVerb::kAuthLogin},
    {"AUTH=LOGIN", SmtpVerb::kAuthEqualsLogin},
}};

}  // namespace

void TrimRepeated(std::string& text, std::string_view token) {
    if (text.empty() || token.empty()) return;
    std::size_t begin = 0;
    while (text.compare(begin, token.size(), token) == 0 && begin + token.size() <= text.size()) begin += token.size();
    std::size_t end = text.size();
    while (end >= begin + token.size() && text.compare(end - token.size(), token.size(), token) == 0) end -= token.size();
    text = text.substr(begin, end - begin);
}

SmtpCommand ParseSmtpCommand(std::string_view line) {
    SmtpCommand command;
    for (const auto& [prefix, verb] : kCommandTable) {
        if (!StartsWithNoCase(line, prefix)) continue;
        command.verb = verb;
        command.blank_after_verb = line.size() > prefix.size() && line[prefix.size()] == ' ';
        command.argument.assign(line.substr(prefix.size()));
        command.argument.append("\r\n");
        for (std::string_view token : {"\r\n", " ", "<", ">", " "}) TrimRepeated(command.argument, token);
        return command;
    }
    command.argument.assign(line);
    return command;
}

}  // namespace quorvex::smtp
