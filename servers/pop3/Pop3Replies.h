// Every fixed reply text of the POP3 server, byte for byte (trailing blanks
// included): mail clients and the web-mail component match on them, so
// they live in one place and nowhere else.
#pragma once

#include <string_view>

namespace quorvex::pop3 {

// Greetings: "+OK <WelcomeMessage>" when the welcome text is hidden,
// otherwise this product line.
inline constexpr std::string_view kGreetingProduct = "QuorvexServer";
inline constexpr std::string_view kGreetingSuffix = " 5.3 POP3 Service Ready";

// Authorization phase.
inline constexpr std::string_view kWelcomeHere = "+OK welcome here\r\n";
inline constexpr std::string_view kUserTooLong = "-ERR user name is too long\r\n";
inline constexpr std::string_view kPasswordTooLong = "-ERR password is too long\r\n";
inline constexpr std::string_view kAccountDisabled = "-ERR the account is disabled\r\n";
inline constexpr std::string_view kMailProxyDisabled = "-ERR mail proxy disabled\r\n";
inline constexpr std::string_view kPasswordIncorrect = "-ERR the password incorrect\r\n";
inline constexpr std::string_view kUnknownCommand = "-ERR unknown command\r\n";
inline constexpr std::string_view kLoggedIn = "+OK \r\n";
inline constexpr std::string_view kBye = "+OK bye\r\n";
inline constexpr std::string_view kReadMailInfoFailed = "-ERR read mail info failed\r\n";
// A command line longer than the line limit: answered once, discarded.
inline constexpr std::string_view kLineTooLong = "-ERR line too long\r\n";

// Log texts of refused arguments.
inline constexpr std::string_view kLogUserTooLong = "user name is too long";
inline constexpr std::string_view kLogPasswordTooLong = "password is too long";

// Transaction phase.
inline constexpr std::string_view kOkBlank = "+OK \r\n";
inline constexpr std::string_view kOk = "+OK\r\n";
inline constexpr std::string_view kNoop = "+OK noop\r\n";
inline constexpr std::string_view kNoThisMessage = "-ERR no this message\r\n";
inline constexpr std::string_view kNoSuchMessage = "-ERR no such message\r\n";
inline constexpr std::string_view kNoSuchMsg = "-ERR no such msg\r\n";
inline constexpr std::string_view kUpdateFailed = "-ERR update failed\r\n";
inline constexpr std::string_view kEndOfList = ".\r\n";
// A message file that is listed in the index but cannot be read: refused
// before anything else is sent, so the client never sees an empty "+OK".
inline constexpr std::string_view kMessageUnreadable = "-ERR read mail failed\r\n";

// Extended commands.
inline constexpr std::string_view kInvalidIdParameter = "-ERR invalid id parameter\r\n";
inline constexpr std::string_view kUnfoundMessage = "-ERR unfound this message\r\n";
inline constexpr std::string_view kInvalidParameter = "-ERR invalid parameter\r\n";
inline constexpr std::string_view kMoveDone = "+OK move mail successfully\r\n";
inline constexpr std::string_view kCollectionQueued = "+OK \r\n";
inline constexpr std::string_view kCollectionBusy = "+OK in processing\r\n";

// Anti-virus mode.
inline constexpr std::string_view kIllegalConnection = "-ERR illegal connection\r\n";

}  // namespace quorvex::pop3
