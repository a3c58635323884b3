// The text-template path of the composer: a header block, a base64 text
// part and base64 attachment parts written straight into a stream from
// fixed templates, without the MIME library. Attachments are read and
// encoded piece by piece, never loaded whole.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include "common/ErrorLog.h"
#include "common/MailDate.h"
#include "common/Paths.h"
#include "common/TextHelpers.h"
#include "mailmodel/compose/Base64Lines.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::compose {
namespace {

constexpr std::string_view kBoundary = "#BOUNDARY.QUORVEXSERVER#";
constexpr std::string_view kDefaultMailer = "Tarnvale Ostrevan v2.0";
constexpr std::size_t kMaxListItem = 4096;
constexpr std::size_t kMailerCapacity = 4096;
constexpr std::size_t kValueCapacity = 8192;
constexpr std::size_t kBareAddressCapacity = 256;
// Input bytes per encoded word: a Subject line stays far within 998 bytes.
constexpr std::size_t kWordInputBytes = 600;

std::string Cut(std::string_view text, std::size_t capacity) {
    if (text.size() <= capacity) return std::string(text);
    QUORVEX_ERROR_LOG("Buffer overflow");
    return std::string(text.substr(0, capacity));
}

// Items of a list cut at ';' and ',' (quotes mean nothing here), formatted
// as addresses and joined with ",\r\n\t"; false for an item of 4096
// characters or more.
bool FormatTemplateList(const char* list, std::string& out) {
    out.clear();
    if (list == nullptr) return true;
    const std::string_view text(list);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ';' && text[i] != ',') continue;
        std::string item(text.substr(start, i - start));
        start = i + 1;
        if (item.size() >= kMaxListItem) return false;
        TrimToken(item, " ");
        if (item.empty()) continue;
        if (!out.empty()) out += ",\r\n\t";
        out += MailAddress().SplitAddress(item).Format();
    }
    out = Cut(out, kValueCapacity);
    return true;
}

}  // namespace

int MailAttachment::SetPath(std::string_view path) {
    Path = Cut(path, kPathCapacity);
    FileName = std::string(BaseName(Path));
    ContentName = FileName;
    return 1;
}

void MailAttachment::SetContentName(std::string_view name) { ContentName = Cut(name, kContentNameCapacity); }

void CMessageGenerator::ParseAddress(MailAddress& address, std::string_view text) {
    address.DisplayName.clear();
    address.Address.clear();
    const std::size_t open = text.find('<');
    const std::size_t close = text.find('>');
    if (open != std::string_view::npos && close != std::string_view::npos && open < close) {
        address.DisplayName = Cut(text.substr(0, open), MailAddress::kCapacity);
        address.Address = Cut(text.substr(open + 1, close - open - 1), MailAddress::kCapacity);
    } else {
        address.Address = Cut(text, MailAddress::kCapacity);
    }
}

int CMessageGenerator::EncodeHeaderWord(std::string& out, const char* text) {
    out.clear();
    if (text == nullptr || text[0] == '\0') return 1;
    const std::string charset = environment_.charset();
    const std::string_view all(text);
    // One word for any ordinary subject; a very long one becomes several
    // words on folded lines so that no header line passes 998 bytes.
    for (std::size_t pos = 0; pos < all.size(); pos += kWordInputBytes) {
        std::string encoded = Base64EncodeLines(all.substr(pos, kWordInputBytes));
        std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
        if (!out.empty()) out += "\r\n\t";
        out += "=?" + charset + "?B?" + encoded + "?=";
    }
    return 1;
}

int CMessageGenerator::GenerateTemplateMail(const char* subject, const char* mailer, const char* from,
                                            const char* to, const char* cc, const char* replyTo) {
    if (!environment_.writesTemplateHeader) return 1;
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const std::string date = FormatMailDate(local, local.tm_gmtoff);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%d%b%Y%H%M%S@", &local);
    const std::string messageId =
        stamp + ExtractBareAddress(from != nullptr ? from : "", kBareAddressCapacity) + "_";

    std::string toValue, ccValue;
    if (!FormatTemplateList(to, toValue) || !FormatTemplateList(cc, ccValue)) return 0;
    const std::string fromValue = Cut(MailAddress().SplitAddress(from != nullptr ? from : "").Format(), kValueCapacity);
    std::string subjectValue;
    EncodeHeaderWord(subjectValue, subject);
    std::string mailerText = mailer != nullptr ? Cut(mailer, kMailerCapacity) : std::string();
    if (mailerText.empty()) mailerText = kDefaultMailer;

    const std::string domain = environment_.domainName();
    std::string header;
    header += "Received: from GenEmail (localhost [127.0.0.1])\r\n\tby " + domain + " with Ostrevan 2.0 SMTP; " + date +
              "\r\n";
    header += "Received: from localhost (localhost [127.0.0.1])\r\n\tby " + domain + " with Ostrevan 2.0 SMTP; " +
              date + "\r\n";
    header += "Message-ID: <" + messageId + ">\r\n";
    header += "From: " + fromValue + "\r\n";
    header += "To: " + toValue + "\r\n";
    if (!ccValue.empty()) header += "Cc: " + ccValue + "\r\n";
    header += "Subject: " + subjectValue + "\r\n";
    header += "Date: " + date + "\r\n";
    header += "X-Mailer: " + mailerText + "\r\n";
    if (replyTo != nullptr) {
        const std::string reply = Cut(MailAddress().SplitAddress(replyTo).Format(), kMaxListItem);
        if (!reply.empty()) header += "Reply-To: " + reply + "\r\n";
    }
    header += "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"";
    header += kBoundary;
    header += "\"\r\n\r\n";
    Write(header);
    return 1;
}

int CMessageGenerator::WriteTemplateTextPart(const char* body) {
    std::string head = "\r\n--";
    head += kBoundary;
    head += "\r\nContent-Type: text/plain; charset=\"" + environment_.charset() +
            "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    Write(head);
    WriteBase64Text(body);
    return 1;
}

int CMessageGenerator::WriteTemplateAttachments(const char* paths) {
    if (paths == nullptr) return 1;
    std::string_view list(paths);
    if (list.size() > kMaxListItem) list = list.substr(0, kMaxListItem);
    MailAttachment attachment;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t semi = list.find(';', start);
        const std::size_t end = semi == std::string_view::npos ? list.size() : semi;
        attachment.SetPath(list.substr(start, end - start));
        start = end + 1;
        if (OriginalMailFlag != 0) attachment.SetContentName("original_email.eml");
        std::string head = "\r\n\r\n--";
        head += kBoundary;
        head += "\r\nContent-Type: application/octet-stream; name=\"" + attachment.ContentName +
                "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
                attachment.ContentName + "\"\r\n\r\n";
        Write(head);
        WriteBase64File(attachment.Path);
    }
    return 1;
}

int CMessageGenerator::WriteBase64Text(const char* text) {
    if (text == nullptr) return 0;
    constexpr std::size_t kPiece = 4095;
    const std::string_view all(text);
    Base64LineEncoder encoder;
    std::string out;
    for (std::size_t pos = 0; pos < all.size(); pos += kPiece) {
        out.clear();
        encoder.Encode(all.substr(pos, kPiece), out);
        Write(out);
    }
    return 0;
}

int CMessageGenerator::WriteBase64File(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (path.empty() || !file) return -1;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) return -1;
    file.seekg(0, std::ios::beg);
    const std::size_t piece = size < 65536 ? static_cast<std::size_t>(size) / 3 * 3 + 3
                              : size < 1048576 ? 131058
                                               : 524286;
    std::vector<char> buffer(piece);
    Base64LineEncoder encoder;
    std::string out;
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::size_t got = static_cast<std::size_t>(file.gcount());
        if (got == 0) break;
        out.clear();
        encoder.Encode({buffer.data(), got}, out);
        Write(out);
    }
    return 0;
}

}  // namespace quorvex::compose
