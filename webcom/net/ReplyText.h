// Pure pieces of the component's line dialogues: which command lines may
// be sent at all, and how reply lines are read ("+OK" tests and the numbers
// and words that follow, read the way scanf reads "+OK %d %d"). No I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/net/SocketIo.h"

namespace quorvex::webcom {

// The servers' line reader takes a line whole only when its LF lies within
// its first kTextLineCapacity - 3 bytes; with the CR LF we send, that
// leaves this many characters. The rest of a longer line would arrive as a
// second command, so no longer line is ever sent, and none is cut and sent
// in two pieces.
inline constexpr std::size_t kMaxCommandLine = kTextLineCapacity - 5;

// Why a command line may not be sent.
enum class LineProblem { kNone, kLineBreak, kNul, kTooLong };

// kLineBreak for CR or LF anywhere (a second command could be smuggled
// in), kNul for a NUL byte, kTooLong beyond kMaxCommandLine.
LineProblem CheckCommandLine(std::string_view line);
// The same tests without the length (parts of a line).
LineProblem CheckCommandText(std::string_view text);

// Refusal texts of the component for lines it will not send.
inline constexpr std::string_view kReplyLineBreak = "-ERR the text holds a line break";
inline constexpr std::string_view kReplyNulByte = "-ERR the text holds a NUL byte";
inline constexpr std::string_view kReplyCommandTooLong = "-ERR command is too long";

// The refusal text of a problem (empty for kNone).
std::string_view ProblemReply(LineProblem problem);

// A positive reply: "+OK" in any case over its first three characters.
bool IsPositiveReply(std::string_view reply);
// The reply begins "+OK " in any case (four characters).
bool StartsWithOkBlank(std::string_view reply);

// The numbers after a leading "+OK" (that exact case), read as scanf's
// "%d" conversions read them: blanks skipped, an optional sign, digits.
// Reading stops at the first conversion that fails or after `max_count`;
// what was read before stays. Values are clamped to the 32-bit range.
std::vector<std::int32_t> ReplyNumbers(std::string_view reply, std::size_t max_count);
// "+OK %d %s": the word after the first number; nothing when either is
// missing. The word is cut at `max_length` characters.
std::optional<std::string> ReplyWordAfterNumber(std::string_view reply, std::size_t max_length);

}  // namespace quorvex::webcom
