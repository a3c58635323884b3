// The pure functions of the account server's line protocol: reply texts,
// splitting the "account#password" argument, the character tests on
// account names, the tagged account lines and the grammar of table
// commands. No I/O here; everything is tested without sockets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/AccountServerTags.h"

namespace quorvex::accountserver {

// Length rules of the first line and of the tagged account lines.
inline constexpr std::size_t kMaxSignUpText = 260;      // text after "SIGNUP#"
inline constexpr std::size_t kMaxCredentialText = 521;  // text after "LOGIN#" and the like
inline constexpr std::size_t kMaxSessionLine = 521;     // whole "ACCOUNT#" / "SYSADMIN#" line
inline constexpr std::size_t kMaxTaggedLine = 260;      // whole tagged line
inline constexpr std::size_t kMaxCommandArgument = 260; // account or domain argument of a command
inline constexpr std::size_t kMaxBoxText = 256;         // remote box texts

// Common replies.
inline constexpr std::string_view kReplyOk = "+OK";
inline constexpr std::string_view kReplyOkBlank = "+OK ";
inline constexpr std::string_view kReplyUnknownCommand = "-ERR unknown command";
inline constexpr std::string_view kReplyIllegalConnection = "-ERR illeglar connection";
inline constexpr std::string_view kReplyNoPassword = "-ERR no password";
inline constexpr std::string_view kReplyIllegalLetter = "-ERR the account including some illegal letter";
inline constexpr std::string_view kReplyAccountEmpty = "-ERR the account is empty";
inline constexpr std::string_view kReplyNoSuchUser = "-ERR no such user";
inline constexpr std::string_view kReplyPasswordIncorrect = "-ERR password incorrect";
// The right password for a disabled account (the POP3 server's words).
inline constexpr std::string_view kReplyAccountDisabled = "-ERR the account is disabled";
inline constexpr std::string_view kReplyUserNameTooLong = "-ERR user name is too long";
inline constexpr std::string_view kReplyAbnormalQuit = "-ERR abnormal quit";
inline constexpr std::string_view kReplyNoMailDomain = "-ERR no mail domain name";
inline constexpr std::string_view kReplyNoSuchDomain = "-ERR mail domain name doesn't exist";
inline constexpr std::string_view kReplyCreateFailed = "-ERR Create account failed";
inline constexpr std::string_view kReplyUpdateFailed = "-ERR Update failed";
inline constexpr std::string_view kReplyDeleteFailed = "-ERR Delete failed";
inline constexpr std::string_view kReplyAddNewFailed = "-ERR Add new failed";
inline constexpr std::string_view kReplyIllegalUser = "-ERR illeglar user";
inline constexpr std::string_view kReplyIllegalUserName = "-ERR illeglar user name";
inline constexpr std::string_view kReplyBye = "+OK bye";
// A new administrator password that no login line could carry.
inline constexpr std::string_view kReplyPasswordIllegalLetter = "-ERR the password including some illegal letter";
inline constexpr std::string_view kReplyPasswordTooLong = "-ERR password is too long";

// "account#password" split at the last "#"; nothing when there is none.
struct Credentials {
    std::string account;  // as received, colon suffix included
    std::string password;
};
std::optional<Credentials> SplitCredentials(std::string_view text);

using account_tags::CutColonSuffix;

// The text after a name's first "@" (empty without one).
std::string_view AfterFirstAt(std::string_view name);

// The mail domain an account name belongs to: with several mail domains
// the text after its first "@" (empty without one), with one mail domain
// `single_domain` for a name without "@" and nothing for a name with one.
std::string DomainOfAccount(std::string_view name, bool multi_domain, std::string_view single_domain);

// A domain name that may enter the domain table: not empty, at most 256
// characters, no control character, blank, "@", path separator or other
// refused character, and not "." or "..".
bool IsAcceptableDomainName(std::string_view name);

// The eight tagged account lines, in their order, with the replies to a
// line over 260 characters and to a line without the tag.
struct TaggedLine {
    std::string_view tag;
    std::string_view too_long;  // empty: length not checked
    std::string_view missing;
};
inline constexpr std::size_t kTaggedLineCount = 8;
// The missing-tag reply of "USERNAME#" differs between sign-up and update.
const TaggedLine& AccountTaggedLine(std::size_t index, bool update);
inline constexpr TaggedLine kQuitLine{account_tags::kQuit, "", "-ERR abnormal quit"};

// The values a client sends (sign-up, update) or receives (login).
struct AccountLines {
    std::string password;
    std::string user_name;
    std::string comment;
    std::string pop3_server;
    std::string pop3_account;
    std::string contact_mail;
    std::string pop3_password;
    int leave_copy = 0;

    std::string& Text(std::size_t index);  // 0..6
};
// Checks one received line against tag `index` (0..7) or, with index 8,
// the closing "QUIT". Returns the error reply, or nothing when it passed
// (the value then lands in `values`).
std::optional<std::string_view> TakeTaggedLine(std::string_view line, std::size_t index, bool update,
                                                AccountLines& values);
// The eight lines a login sends.
std::string FormatTaggedLine(std::size_t index, AccountLines& values);

// A decimal read as the C library's atoi does, clamped to the int range.
int ReadDecimal(std::string_view text);

// The four characters backslash r backslash n and CR LF.
inline constexpr std::string_view kEscapedLineBreak = "\\r\\n";
inline constexpr std::string_view kLineBreak = "\r\n";

// ---- table sessions ----

// One command line inside an open table.
enum class TableVerb {
    kAddNew, kGetCount, kUpdate, kDelete, kEdit, kGetData, kMoveUp, kMoveDown, kFind,
    kValueGet, kValueSet, kQuit, kClose, kOpen, kUnknown,
};
struct TableCommand {
    TableVerb verb = TableVerb::kUnknown;
    int number = 0;            // Delete, Edit, GetData, MoveUp, MoveDown (counted from 1)
    std::string text;          // Find: the name; Value: the value name
    std::string value;         // ValueSet: the new value
};
TableCommand ParseTableCommand(std::string_view line);

// "OPEN argument, table": nothing without ", ".
struct OpenLine {
    std::string argument;
    std::string table;
};
std::optional<OpenLine> ParseOpenLine(std::string_view line);  // line begins "OPEN " (any case)
bool IsOpenLine(std::string_view line);

}  // namespace quorvex::accountserver
