// Account-name validation.
#include "common/AccountName.h"

#include "common/DomainTable.h"

namespace quorvex {

namespace {

constexpr std::string_view kRefusedNameCharacters = "~`!#$%^&*()+=|\\{}[]:;<,>?/\"'";

bool IsPlainNameCharacter(char c) {
    return IsAsciiAlnum(c) || c == '.' || c == '_' || c == '-';
}

}  // namespace

bool IsValidNewAccountName(std::string_view name, bool multi_domain,
                           const std::function<bool(std::string_view domain)>& is_domain) {
    if (name.size() > kMaxAccountNameLength) return false;
    const std::size_t at = name.find('@');
    const std::string_view user = name.substr(0, at);
    if (multi_domain) {
        if (at == std::string_view::npos || !is_domain || !is_domain(name.substr(at + 1))) return false;
    } else if (at != std::string_view::npos) {
        return false;
    }
    if (user.empty() || user.front() == '.' || user.back() == '.' || user.find("..") != std::string_view::npos) {
        return false;
    }
    if (IsReservedAccountName(name)) return false;
    for (const char c : user) {
        if (!IsPlainNameCharacter(c)) return false;
    }
    return true;
}

bool IsValidNewAccountName(std::string_view name, const DomainTable& domains) {
    return IsValidNewAccountName(name, domains.mode() == DomainTable::kMultiDomain,
                                 [&domains](std::string_view domain) { return domains.Find(domain) >= 0; });
}

bool IsReservedAccountName(std::string_view name) {
    return (!name.empty() && name.front() == '_') || SameName(name, "All");
}

bool HasRefusedNameCharacter(std::string_view name, bool refuse_blank) {
    if (name.find_first_of(kRefusedNameCharacters) != std::string_view::npos) return true;
    return refuse_blank && name.find(' ') != std::string_view::npos;
}

bool IsValidAccountName(std::string_view name) {
    if (name.empty() || name.size() > kMaxAccountNameLength) return false;
    if (name == "." || name == "..") return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

}  // namespace quorvex
