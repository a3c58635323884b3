// Non-delivery reports.
#include "servers/outgoing/BounceMessage.h"

#include <unistd.h>

#include "common/AsciiCase.h"
#include "common/Paths.h"
#include "common/Translation.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "servers/outgoing/SmtpClientText.h"

namespace quorvex::outgoing {

std::string BounceSenderAddress(std::string_view server_domain) {
    return std::string(kBounceLocalPart) + "@" + std::string(server_domain);
}

bool IsBounceSender(std::string_view address) {
    if (address.empty()) return true;
    const std::size_t at = address.rfind('@');
    return EqualsNoCase(address.substr(0, at), kBounceLocalPart);
}

std::string BounceBody(std::string_view recipient, std::string_view outcome) {
    const std::string format = TranslateText(kBounceBodyFormat);
    // The format holds two "%s": recipient, then outcome.
    std::string body;
    std::size_t start = 0;
    int argument = 0;
    for (std::size_t pos = format.find("%s"); pos != std::string::npos; pos = format.find("%s", start)) {
        body.append(format, start, pos - start);
        if (argument == 0) body += recipient;
        else if (argument == 1) body += outcome;
        ++argument;
        start = pos + 2;
    }
    body.append(format, start, std::string::npos);
    if (body.size() > kMaxBounceBody) body.resize(kMaxBounceBody);
    return body;
}

bool BuildBounceMessage(std::string_view recipient, std::string_view sender, const std::string& message_file,
                        const std::string& output, std::string_view outcome, std::string_view server_domain) {
    const std::string body = BounceBody(recipient, outcome);
    const std::string subject = TranslateText(kBounceSubject);
    const std::string from = BounceSenderAddress(server_domain);
    const std::string to(sender);
    // The returned message travels under the name "original_email.eml":
    // a private copy of that name beside the report is attached.
    const std::string folder = output + ".parts";
    const std::string attachment = JoinPath(folder, "original_email.eml");
    MakeFolders(folder);
    bool written = ScrambleCopyFile(message_file, attachment, 0);
    if (written) {
        compose::CMessageGenerator generator;
        written = generator.GenerateMail(output.c_str(), body.c_str(), subject.c_str(), attachment.c_str(), "",
                                         from.c_str(), to.c_str(), "", "", "", 0, 1) != 0;
    }
    ::unlink(attachment.c_str());
    ::rmdir(folder.c_str());
    return written;
}

}  // namespace quorvex::outgoing
