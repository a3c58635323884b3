#include "common/SettingRanges.h"

namespace quorvex {

namespace {

constexpr std::string_view kBlanks = " \t";
// More digits than this cannot be in any range (and would overflow).
constexpr std::size_t kMaxDigits = 18;

// A number as the settings files hold one (NumberInRange); nothing for
// other text. One too long for any range reads as LLONG_MAX (LLONG_MIN).
std::optional<long long> ParseWholeNumber(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    const bool negative = text.front() == '-';
    if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    if (text.size() > kMaxDigits) return negative ? LLONG_MIN : LLONG_MAX;
    long long value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return negative ? -value : value;
}

}  // namespace

std::string NumberRange::Expected() const {
    std::string text;
    if (minus_one != nullptr) text.append("-1 (").append(minus_one).append(") or ");
    text.append("a ").append(noun);
    if (low == INT_MIN && high == INT_MAX) {
        if (note != nullptr) text.append(" (").append(note).append(")");
        return text;
    }
    return text.append(" from ").append(std::to_string(low)).append(" to ").append(std::to_string(high));
}

std::optional<int> NumberInRange(std::string_view text, const NumberRange& range) {
    const auto number = ParseWholeNumber(text);
    if (!number || !range.Accepts(*number)) return std::nullopt;
    return static_cast<int>(*number);
}

std::string RefusedValueText(std::string_view file, std::string_view section, std::string_view key,
                             std::string_view value, std::string_view expected) {
    std::string text = "The settings file ";
    text.append(file).append(" gives [").append(section).append("] ").append(key);
    return text.append(" the value \"").append(value).append("\", which is not ").append(expected).append(".");
}

void CheckNumberKey(const IniDocument& doc, std::string_view file, std::string_view section, std::string_view key,
                    const NumberRange& range, std::vector<std::string>& refused) {
    const auto value = doc.Find(section, key);
    if (value && !NumberInRange(*value, range)) {
        refused.push_back(RefusedValueText(file, section, key, *value, range.Expected()));
    }
}

int NumberOrDefault(const IniDocument& doc, std::string_view section, std::string_view key, int default_value,
                    const NumberRange& range) {
    const auto value = doc.Find(section, key);
    return value ? NumberInRange(*value, range).value_or(default_value) : default_value;
}

std::optional<PortClash> FindPortClash(int smtp, int pop3, int admin) {
    if (smtp == pop3) return PortClash{"SMTP", "POP3", "SMTP", "POP3", smtp};
    if (smtp == admin) return PortClash{"SMTP", "account", "SMTP", "Admin", smtp};
    if (pop3 == admin) return PortClash{"POP3", "account", "POP3", "Admin", pop3};
    return std::nullopt;
}

}  // namespace quorvex
