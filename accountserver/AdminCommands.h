// The command table of the administrator sessions and the loop that reads
// their commands: each row names a command word, how a line must match it
// (case-insensitive), the session's handler and whether the command changes
// something (its success is the session's progress). A handler answers;
// false ends the session.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "accountserver/AccountProtocol.h"
#include "accountserver/RequestContext.h"
#include "common/AsciiCase.h"
#include "common/RunFlag.h"

namespace quorvex::accountserver {

// The whole line is the word; the line begins with the word (its trailing
// blank included) and the rest is the argument; or the line begins with
// the word's first four letters.
enum class Match { kWhole, kPrefix, kFirstFour };

template <typename Session>
struct CommandRule {
    std::string_view word;  // with its trailing space for prefixes
    Match match;
    bool (Session::*run)(std::string_view argument);
    bool changes = false;
};

// Finds the rule a line matches (case-insensitive) and its argument.
template <typename Session, std::size_t N>
const CommandRule<Session>* MatchCommand(const std::array<CommandRule<Session>, N>& rules, std::string_view line,
                                         std::string_view& argument) {
    for (const auto& rule : rules) {
        const bool hit = rule.match == Match::kWhole    ? EqualsNoCase(line, rule.word)
                         : rule.match == Match::kPrefix ? StartsWithNoCase(line, rule.word)
                                                        : StartsWithNoCase(line, rule.word.substr(0, 4));
        if (!hit) continue;
        argument = rule.match == Match::kPrefix ? line.substr(rule.word.size()) : std::string_view();
        return &rule;
    }
    return nullptr;
}

// Answers the commands of one session until it ends, the client leaves or
// the servers stop. A line no rule matches is answered kReplyUnknownCommand.
template <typename Session, std::size_t N>
void RunCommandLoop(RequestContext& context, Session& session, const std::array<CommandRule<Session>, N>& rules) {
    std::string line;
    while (ServersRunning() && context.ReadCommand(line)) {
        std::string_view argument;
        const auto* rule = MatchCommand(rules, line, argument);
        if (!rule) {
            if (!context.Reply(kReplyUnknownCommand)) return;
            continue;
        }
        if (!(session.*(rule->run))(argument)) return;
        if (rule->changes) context.Progress();
    }
}

}  // namespace quorvex::accountserver
