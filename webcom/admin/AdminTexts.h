// The reply texts of the Admin class: what LastResponse holds when the
// class itself refuses or fails a call. Lines from the account server are
// copied into LastResponse as they come.
#pragma once

#include <string_view>

namespace quorvex::webcom::admin {

inline constexpr std::string_view kReplyOkBlank = "+OK ";
inline constexpr std::string_view kReplyOk = "+OK";
inline constexpr std::string_view kAccountTooLong = "-ERR the account string length is too long";
inline constexpr std::string_view kPasswordTooLong = "-ERR the password string length is too long";
inline constexpr std::string_view kIllegalLetter = "-ERR the account including some illegal letter";
inline constexpr std::string_view kSockError = "-ERR sock error";
inline constexpr std::string_view kConnectFailed = "-ERR connect admin server failed";
inline constexpr std::string_view kQuitError = "-ERR quit error";
inline constexpr std::string_view kCommandStringTooLong = "-ERR the command string length is too long";
inline constexpr std::string_view kCommandStringInvalid = "-ERR the command string is invalid";
inline constexpr std::string_view kCommandTooLong = "-ERR command is too long";
inline constexpr std::string_view kSessionFailed = "-ERR connect to server failed";
inline constexpr std::string_view kSocketError = "-ERR socket error";
// A field value longer than a field holds (the field keeps its value).
inline constexpr std::string_view kTextTooLong = "-ERR the text is too long";
// The server did not take the "LEAVECOPY#" line of Modify or Signup.
inline constexpr std::string_view kLeaveCopyError = "-ERR leavecopy error";

// Length rules.
inline constexpr std::size_t kMaxFieldText = 4096;        // account fields, LastResponse
inline constexpr std::size_t kMaxOneShotArgument = 4096;  // account and password of the one-shot dialogues
inline constexpr std::size_t kMaxAuthArgument = 256;      // account and password of AuthLogin
inline constexpr std::size_t kMaxRecordSetText = 3840;    // Open, Value, Find texts together
inline constexpr std::size_t kMaxValueText = 4093;        // a Value read back

}  // namespace quorvex::webcom::admin
