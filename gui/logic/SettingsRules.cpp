#include "gui/logic/SettingsRules.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/WebMailLanguage.h"
#include "common/AccountName.h"
#include "common/Paths.h"
#include "common/TextHelpers.h"
#include "servers/smtp/SmtpAccessRules.h"

namespace quorvex::gui {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";
constexpr std::size_t kMaxDominameTyped = 260;
constexpr std::size_t kMaxPathLength = 260;
constexpr std::string_view kLogFolderName = "/Log";

bool HasBlank(std::string_view text) { return text.find_first_of(kWhiteSpace) != std::string_view::npos; }

}  // namespace

std::string SingleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != '\0') out += c;
    }
    return out;
}

std::optional<std::string> CleanDomainName(std::string_view typed) {
    const std::string_view name = TrimChars(typed, kWhiteSpace);
    if (name.empty()) return std::nullopt;
    return AsciiLowerCase(name);
}

std::string CleanDominame(std::string_view typed) {
    return AsciiLowerCase(TrimChars(typed.substr(0, std::min(typed.size(), kMaxDominameTyped)), " "));
}

IpEntryCheck CheckIpEntry(std::string_view entry) {
    const auto dash = entry.find('-');
    const auto low = smtp::ParseIpv4Entry(entry.substr(0, dash));
    if (dash == std::string_view::npos) return low ? IpEntryCheck::kValid : IpEntryCheck::kNotAnAddress;
    const auto high = smtp::ParseIpv4Entry(entry.substr(dash + 1));
    if (!low || !high) return IpEntryCheck::kNotAnAddress;
    return *low <= *high ? IpEntryCheck::kValid : IpEntryCheck::kReversedRange;
}

bool IsValidSenderEntry(std::string_view entry) {
    const auto at = entry.find('@');
    if (at == std::string_view::npos || HasBlank(entry)) return false;
    const std::string_view domain = entry.substr(at + 1);
    return !domain.empty() && domain.find('@') == std::string_view::npos && domain.front() != '.' &&
           domain.back() != '.';
}

std::string CleanWhiteList(std::string_view list) {
    std::string out;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        auto end = list.find(';', begin);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view entry = TrimChars(list.substr(begin, end - begin), kWhiteSpace);
        if (!entry.empty()) {
            if (!out.empty()) out += ';';
            out += entry;
        }
        begin = end + 1;
    }
    return out;
}

std::vector<std::string> ScanLanguages(const std::string& program_folder, const std::string& installed_folder) {
    std::vector<std::string> names;
    for (const std::string& folder : {program_folder, installed_folder}) {
        if (folder.empty()) continue;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(JoinPath(folder, "Language"), error)) {
            if (!entry.is_regular_file(error)) continue;
            const std::filesystem::path path = entry.path();
            if (AsciiLowerCase(path.extension().string()) != ".ini") continue;
            const std::string name = path.stem().string();
            // A name that could leave the folder or an include line is not
            // offered; the program folder's own file wins over an installed
            // one of the same name.
            if (app::SafeLanguageName(name) == name && FindLanguage(names, name) < 0) names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return AsciiLowerCase(a) < AsciiLowerCase(b); });
    return names;
}

int FindLanguage(const std::vector<std::string>& names, std::string_view current) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (SameName(names[i], current)) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> LogFolderFromChosen(std::string chosen) {
    if (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
    if (chosen == "/") chosen.clear();
    if (chosen.size() + kLogFolderName.size() >= kMaxPathLength) return std::nullopt;
    return chosen + std::string(kLogFolderName);
}

std::vector<std::string> WebServerRestartCommand() {
    const char* configured = std::getenv("QUORVEX_APACHECTL");
    return {configured != nullptr && *configured != '\0' ? configured : "apachectl", "-k", "graceful"};
}

}  // namespace quorvex::gui
