// The words of the account server's line protocol that the server and its
// web-mail client both write: the prefixes that name a request and the tags
// of the eight account lines that sign-up, login and update exchange, and
// where an account text's forwarded client address begins.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvex::account_tags {

// First-line prefixes of the requests.
inline constexpr std::string_view kSignUp = "SIGNUP#";
inline constexpr std::string_view kLogin = "LOGIN#";
inline constexpr std::string_view kUpdate = "UPDATE#";
inline constexpr std::string_view kDelete = "DELETE#";
inline constexpr std::string_view kDomainAdmin = "ACCOUNT#";
inline constexpr std::string_view kSysAdmin = "SYSADMIN#";
inline constexpr std::string_view kTableAuth = "AUTH#";  // any case

// The account lines, in the order they are sent; the value follows its tag.
inline constexpr std::string_view kPassword = "PASSWORD#";
inline constexpr std::string_view kUserName = "USERNAME#";
inline constexpr std::string_view kComment = "COMMENT#";
inline constexpr std::string_view kPop3Server = "POP3SERVER#";
inline constexpr std::string_view kPop3Account = "POP3ACCOUNT#";
inline constexpr std::string_view kPop3Mail = "POP3MAIL#";
inline constexpr std::string_view kPop3Password = "POP3PASSWORD#";
inline constexpr std::string_view kLeaveCopy = "LEAVECOPY#";
inline constexpr std::array<std::string_view, 8> kAccountLines{
    kPassword, kUserName, kComment, kPop3Server, kPop3Account, kPop3Mail, kPop3Password, kLeaveCopy,
};

// The line that ends a sign-up, update or delete dialogue.
inline constexpr std::string_view kQuit = "QUIT";

// The account part of an account text: a web-mail front end appends ":" and
// its user's address. The text is cut at its last colon, or at its first
// when what follows that one is an IPv6 address (which holds colons of its
// own). An account name never holds a colon.
std::string_view CutColonSuffix(std::string_view account_text);

}  // namespace quorvex::account_tags
