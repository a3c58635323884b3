// Pure functions of the account server's line protocol.
#include "accountserver/AccountProtocol.h"

#include <array>

#include "common/AccountName.h"
#include "common/AccountServerTags.h"
#include "common/AsciiCase.h"
#include "common/DecimalScan.h"

namespace quorvex::accountserver {

namespace {

namespace tags = account_tags;

constexpr std::array<TaggedLine, kTaggedLineCount> kSignUpLines{{
    {tags::kPassword, "-ERR password is too long", "-ERR no password"},
    {tags::kUserName, "-ERR user name is too long", "-ERR no user name"},
    {tags::kComment, "-ERR comment is too long", "-ERR no comment"},
    {tags::kPop3Server, "-ERR pop3 server name is too long", "-ERR no pop3 server"},
    {tags::kPop3Account, "-ERR pop3 account is too long", "-ERR no pop3 account"},
    {tags::kPop3Mail, "-ERR pop3 mail address is too long", "-ERR no pop3 mail"},
    {tags::kPop3Password, "-ERR pop3 password is too long", "-ERR no pop3 mail"},
    {tags::kLeaveCopy, "", "-ERR no leavecopy set"},
}};
constexpr TaggedLine kUpdateUserNameLine{tags::kUserName, "-ERR user name is too long", "-ERR no username"};

}  // namespace

std::optional<Credentials> SplitCredentials(std::string_view text) {
    const auto hash = text.rfind('#');
    if (hash == std::string_view::npos) return std::nullopt;
    return Credentials{std::string(text.substr(0, hash)), std::string(text.substr(hash + 1))};
}

std::string_view AfterFirstAt(std::string_view name) {
    const auto at = name.find('@');
    return at == std::string_view::npos ? std::string_view() : name.substr(at + 1);
}

std::string DomainOfAccount(std::string_view name, bool multi_domain, std::string_view single_domain) {
    const bool has_at = name.find('@') != std::string_view::npos;
    if (multi_domain) return std::string(AfterFirstAt(name));
    return has_at ? std::string() : std::string(single_domain);
}

bool IsAcceptableDomainName(std::string_view name) {
    if (name.empty() || name.size() > 256 || name == "." || name == "..") return false;
    if (HasRefusedNameCharacter(name, true) || name.find('@') != std::string_view::npos) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

const TaggedLine& AccountTaggedLine(std::size_t index, bool update) {
    if (update && index == 1) return kUpdateUserNameLine;
    return kSignUpLines.at(index);
}

std::string& AccountLines::Text(std::size_t index) {
    std::array<std::string*, 7> fields{&password, &user_name, &comment, &pop3_server,
                                       &pop3_account, &contact_mail, &pop3_password};
    return *fields.at(index);
}

std::optional<std::string_view> TakeTaggedLine(std::string_view line, std::size_t index, bool update,
                                                AccountLines& values) {
    const TaggedLine& rule = index < kTaggedLineCount ? AccountTaggedLine(index, update) : kQuitLine;
    if (!rule.too_long.empty() && line.size() > kMaxTaggedLine) return rule.too_long;
    if (!line.starts_with(rule.tag)) return rule.missing;
    const std::string_view value = line.substr(rule.tag.size());
    if (index < 7) values.Text(index) = std::string(value);
    else if (index == 7) values.leave_copy = ReadDecimal(value);
    return std::nullopt;
}

std::string FormatTaggedLine(std::size_t index, AccountLines& values) {
    const TaggedLine& rule = AccountTaggedLine(index, false);
    if (index == 7) return std::string(rule.tag) + std::to_string(values.leave_copy);
    return std::string(rule.tag) + values.Text(index);
}

int ReadDecimal(std::string_view text) { return AtoiLike(text); }

namespace {

struct VerbRule {
    std::string_view word;
    TableVerb verb;
    bool whole;  // the line must be the word; else the word and a space begin it
};
constexpr std::array<VerbRule, 12> kTableVerbs{{
    {"AddNew", TableVerb::kAddNew, true},
    {"GetCount", TableVerb::kGetCount, true},
    {"Update", TableVerb::kUpdate, true},
    {"QUIT", TableVerb::kQuit, true},
    {"CLOSE", TableVerb::kClose, true},
    {"Delete ", TableVerb::kDelete, false},
    {"Edit ", TableVerb::kEdit, false},
    {"GetData ", TableVerb::kGetData, false},
    {"MoveUp ", TableVerb::kMoveUp, false},
    {"MoveDown ", TableVerb::kMoveDown, false},
    {"Find ", TableVerb::kFind, false},
    {"OPEN ", TableVerb::kOpen, false},
}};

}  // namespace

TableCommand ParseTableCommand(std::string_view line) {
    TableCommand command;
    if (StartsWithNoCase(line, "Value ")) {
        const std::string_view rest = line.substr(6);
        const auto comma = rest.find(", ");
        if (comma == std::string_view::npos) {
            command.verb = TableVerb::kValueGet;
            command.text = std::string(rest);
        } else {
            command.verb = TableVerb::kValueSet;
            command.text = std::string(rest.substr(0, comma));
            command.value = std::string(rest.substr(comma + 2));
        }
        return command;
    }
    for (const VerbRule& rule : kTableVerbs) {
        if (rule.whole ? !EqualsNoCase(line, rule.word) : !StartsWithNoCase(line, rule.word)) continue;
        command.verb = rule.verb;
        if (!rule.whole) {
            const std::string_view argument = line.substr(rule.word.size());
            command.text = std::string(argument);
            command.number = ReadDecimal(argument);
        }
        return command;
    }
    return command;
}

bool IsOpenLine(std::string_view line) { return StartsWithNoCase(line, "OPEN "); }

std::optional<OpenLine> ParseOpenLine(std::string_view line) {
    const std::string_view rest = line.substr(5);
    const auto comma = rest.find(", ");
    if (comma == std::string_view::npos) return std::nullopt;
    return OpenLine{std::string(rest.substr(0, comma)), std::string(rest.substr(comma + 2))};
}

}  // namespace quorvex::accountserver
