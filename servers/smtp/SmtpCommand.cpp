// Command recognition for the SMTP session.
#include "servers/smtp/SmtpCommand.h"

#include <array>
#include <utility>

#include "common/AccountName.h"
#include "common/TextHelpers.h"

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

SmtpCommand ParseSmtpCommand(std::string_view line) {
    SmtpCommand command;
    for (const auto& [prefix, verb] : kCommandTable) {
        if (!StartsWithNoCase(line, prefix)) continue;
        command.verb = verb;
        command.blank_after_verb = line.size() > prefix.size() && line[prefix.size()] == ' ';
        command.argument.assign(line.substr(prefix.size()));
        command.argument.append("\r\n");
        for (std::string_view token : {"\r\n", " ", "<", ">", " "}) TrimToken(command.argument, token);
        return command;
    }
    command.argument.assign(line);
    return command;
}

}  // namespace quorvex::smtp
