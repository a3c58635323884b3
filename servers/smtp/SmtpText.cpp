// Text rules of the SMTP session.
#include "servers/smtp/SmtpText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "servers/logins/ClientSource.h"
#include "servers/smtp/SmtpReplies.h"

namespace quorvex::smtp {

namespace {

int LeadingInt(std::string_view text) {
    const std::string copy(text);
    return static_cast<int>(std::strtol(copy.c_str(), nullptr, 10));
}

// The fields as they were always split: at each ":" (an IPv4 address).
WebMailHelo SplitAtEveryColon(std::string_view argument) {
    WebMailHelo fields;
    std::string_view parts[4];
    int count = 0;
    std::size_t begin = 0;
    while (count < 4) {
        const auto colon = argument.find(':', begin);
        parts[count++] = argument.substr(begin, colon == std::string_view::npos ? std::string_view::npos : colon - begin);
        if (colon == std::string_view::npos) break;
        begin = colon + 1;
    }
    fields.account.assign(parts[0]);
    fields.address.assign(parts[1]);
    fields.copy = LeadingInt(parts[2]);
    fields.draft = LeadingInt(parts[3]);
    return fields;
}

}  // namespace

WebMailHelo ParseWebMailHelo(std::string_view argument) {
    // The account ends at the first ":". An IPv6 address holds colons of
    // its own, so the flags are taken from the end: two, one or none of
    // them, whichever leaves an address in between.
    const auto first = argument.find(':');
    if (first == std::string_view::npos) return SplitAtEveryColon(argument);
    const std::string_view rest = argument.substr(first + 1);
    for (int taken = 2; taken >= 0; --taken) {
        std::string_view address = rest;
        std::string_view flags[2];
        int i = taken;
        for (; i > 0; --i) {
            const auto colon = address.rfind(':');
            if (colon == std::string_view::npos) break;
            flags[i - 1] = address.substr(colon + 1);
            address = address.substr(0, colon);
        }
        if (i > 0 || !ForwardedAddress(address)) continue;
        WebMailHelo fields;
        fields.account.assign(argument.substr(0, first));
        fields.address.assign(address);
        fields.copy = taken > 0 ? LeadingInt(flags[0]) : 0;
        fields.draft = taken > 1 ? LeadingInt(flags[1]) : 0;
        return fields;
    }
    return SplitAtEveryColon(argument);
}

std::string_view ReplyForWriteError(int error) {
    return error == ENOSPC || error == EDQUOT ? kDiskFull : kFileSystemError;
}

}  // namespace quorvex::smtp
