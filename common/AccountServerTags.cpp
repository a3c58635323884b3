// Where an account text's forwarded client address begins.
#include "common/AccountServerTags.h"

#include <arpa/inet.h>

#include <string>

namespace quorvex::account_tags {

std::string_view CutColonSuffix(std::string_view account_text) {
    const auto first = account_text.find(':');
    if (first == std::string_view::npos) return account_text;
    const std::string rest(account_text.substr(first + 1));
    in6_addr address{};
    if (::inet_pton(AF_INET6, rest.c_str(), &address) == 1) return account_text.substr(0, first);
    return account_text.substr(0, account_text.rfind(':'));
}

}  // namespace quorvex::account_tags
