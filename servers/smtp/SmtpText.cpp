// Text rules of the SMTP session.
#include "servers/smtp/SmtpText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "servers/smtp/SmtpReplies.h"

namespace quorvex::smtp {

namespace {

int LeadingInt(std::string_view text) {
    const std::string copy(text);
    return static_cast<int>(std::strtol(copy.c_str(), nullptr, 10));
}

}  // namespace

WebMailHelo ParseWebMailHelo(std::string_view argument) {
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

std::string_view ReplyForWriteError(int error) {
    return error == ENOSPC || error == EDQUOT ? kDiskFull : kFileSystemError;
}

}  // namespace quorvex::smtp
