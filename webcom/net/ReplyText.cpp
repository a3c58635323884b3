// Command-line checks and reply scanning.
#include "webcom/net/ReplyText.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "common/AsciiCase.h"

namespace quorvex::webcom {
namespace {

bool IsScanSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One "%d": advances `at` past it when it converts.
std::optional<std::int32_t> ScanInteger(std::string_view text, std::size_t& at) {
    std::size_t i = at;
    while (i < text.size() && IsScanSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digits = i;
    long long value = 0;
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(kLimit, value * 10 + (text[i] - '0'));
    if (i == digits) return std::nullopt;
    at = i;
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min(value, kLimit - 1));
}

constexpr std::string_view kOk = "+OK";

}  // namespace

LineProblem CheckCommandText(std::string_view text) {
    for (const char c : text) {
        if (c == '\r' || c == '\n') return LineProblem::kLineBreak;
        if (c == '\0') return LineProblem::kNul;
    }
    return LineProblem::kNone;
}

LineProblem CheckCommandLine(std::string_view line) {
    if (const LineProblem problem = CheckCommandText(line); problem != LineProblem::kNone) return problem;
    return line.size() > kMaxCommandLine ? LineProblem::kTooLong : LineProblem::kNone;
}

std::string_view ProblemReply(LineProblem problem) {
    switch (problem) {
        case LineProblem::kLineBreak: return kReplyLineBreak;
        case LineProblem::kNul: return kReplyNulByte;
        case LineProblem::kTooLong: return kReplyCommandTooLong;
        case LineProblem::kNone: break;
    }
    return {};
}

bool IsPositiveReply(std::string_view reply) { return StartsWithNoCase(reply, kOk); }

bool StartsWithOkBlank(std::string_view reply) { return StartsWithNoCase(reply, "+OK "); }

std::vector<std::int32_t> ReplyNumbers(std::string_view reply, std::size_t max_count) {
    std::vector<std::int32_t> numbers;
    if (!reply.starts_with(kOk)) return numbers;
    std::size_t at = kOk.size();
    while (numbers.size() < max_count) {
        const auto number = ScanInteger(reply, at);
        if (!number) break;
        numbers.push_back(*number);
    }
    return numbers;
}

std::optional<std::string> ReplyWordAfterNumber(std::string_view reply, std::size_t max_length) {
    if (!reply.starts_with(kOk)) return std::nullopt;
    std::size_t at = kOk.size();
    if (!ScanInteger(reply, at)) return std::nullopt;
    while (at < reply.size() && IsScanSpace(reply[at])) ++at;
    std::size_t end = at;
    while (end < reply.size() && !IsScanSpace(reply[end])) ++end;
    if (end == at) return std::nullopt;
    return std::string(reply.substr(at, std::min(end - at, max_length)));
}

}  // namespace quorvex::webcom
