// The texts the POP3 class puts in LastResponse itself; lines from the
// POP3 server are copied there as they come.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/CharsetText.h"

namespace quorvex::webcom::pop3 {

inline constexpr std::string_view kReplyOk = "+OK";
inline constexpr std::string_view kConnectFailed = "-ERR connect pop3 server failed";
inline constexpr std::string_view kSocketError = "-ERR socket error";
inline constexpr std::string_view kRetrSocketError = "-ERR Socket Error";
inline constexpr std::string_view kMessageGone = "-ERR message has gone!";
inline constexpr std::string_view kReadMailError = "-ERR Read Mail Error";
inline constexpr std::string_view kWriteFileError = "-ERR write file error: ";  // then path, blank, system text
inline constexpr std::string_view kLoginSuccess = "+OK login success";
inline constexpr std::string_view kReadMailSuccessful = "+OK Read Mail Successful";
inline constexpr std::string_view kDownloadError = "-ERR download error";
// A server that sends more than a message (or its header) can hold: the
// call ends there and the connection is closed.
inline constexpr std::string_view kMessageTooLarge = "-ERR message larger than its listed size";
inline constexpr std::string_view kHeaderTooLarge = "-ERR message header too large";
// Logout, a fetch or a file read by an object that is not logged in;
// Logout for another account.
inline constexpr std::string_view kNotLoggedIn = "-ERR not logged in";
inline constexpr std::string_view kNotOwnAccount = "-ERR not logged in as this account";
// A login or user text that cannot name a folder of the work root.
inline constexpr std::string_view kIllegalAccount = "-ERR illegal account";
// Login texts the POP3 server would refuse by their length.
inline constexpr std::string_view kUserTooLong = "-ERR user name is too long";
inline constexpr std::string_view kPasswordTooLong = "-ERR password is too long";
// A folder number other than 0 and 1 (the server would end the session and
// drop every change the page made in it).
inline constexpr std::string_view kInvalidParameter = "-ERR invalid parameter";

// Login refuses a user or password of this many characters or more.
inline constexpr std::size_t kMaxLoginText = 256;
// Texts of the current message and LastResponse keep at most this much.
inline constexpr std::size_t kMaxText = 4096;

inline std::string CutText(std::string_view text) { return std::string(Utf8Prefix(text, kMaxText)); }

// A command and its numbers: CommandLine("LIST", {3, 1}) is "LIST 3 1".
inline std::string CommandLine(std::string_view word, std::initializer_list<std::int64_t> numbers) {
    std::string line(word);
    for (const std::int64_t n : numbers) {
        line += ' ';
        line += std::to_string(n);
    }
    return line;
}

}  // namespace quorvex::webcom::pop3
