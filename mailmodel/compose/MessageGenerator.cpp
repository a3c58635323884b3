// GenerateMail: builds the message with the MIME library, stores it into
// one buffer of the size the library reports, and writes the file
// atomically in its stored form.
#include "mailmodel/compose/MessageGenerator.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <vector>

#include "common/AtomicFile.h"
#include "common/ByteScramble.h"
#include "common/CharsetText.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "mailmodel/compose/MailCharset.h"
#include "mailmodel/compose/MessageText.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/Rfc822Message.h"

namespace quorvex::compose {
namespace {

// The log text of a header value or file name too long for its field.
constexpr const char* kBufferOverflow = "Buffer overflow";

constexpr std::size_t kAddressValueCapacity = 8192;
constexpr std::size_t kDispositionCapacity = 4096;
constexpr std::size_t kMaxAttachmentList = 4096;
constexpr const char* kOriginalMailName = "original_email.eml";

std::atomic<int> g_messageIdCounter{0};

bool HasEightBit(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 128) return true;
    return false;
}

bool IsBlank(std::string_view value) { return value.find_first_not_of(" \t") == std::string_view::npos; }

// Header values carry the charset only when they hold 8-bit bytes, so that
// those bytes go out as encoded words; plain values are written unchanged.
const char* CharsetFor(std::string_view value, const std::string& charset) {
    return HasEightBit(value) ? charset.c_str() : nullptr;
}

// The attachment list split at ';' (at most 4096 characters of it).
std::vector<std::string> SplitAttachmentList(std::string_view list) {
    if (list.size() > kMaxAttachmentList) {
        QUORVEX_ERROR_LOG("Buffer overflow");
        list = list.substr(0, kMaxAttachmentList);
    }
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t semi = list.find(';', start);
        const std::size_t end = semi == std::string_view::npos ? list.size() : semi;
        items.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

// One attachment part: the file's bytes in base64, named by `name` (bytes
// in `charset`) in its disposition and, when the file could be read, in its
// type; names that are more than plain ASCII go out in the RFC 2231 form.
void AddAttachment(mime::CMimeEntity& message, const std::string& path, const std::string& name,
                   const std::string& charset, int originalMailFlag) {
    mime::CMimeEntity* part = message.CreatePart();
    part->SetTransferEncoding("base64");
    part->SetContentType("application/octet-stream");
    part->SetDisposition("attachment");
    part->SetFieldTextParameter("Content-Disposition", "filename", name, charset);
    // A file that cannot be read leaves its part empty and unnamed. Reading
    // names the part with the raw file name; that goes.
    const bool read = !path.empty() && part->ReadFromFile(path);
    part->SetContentType("application/octet-stream");
    if (originalMailFlag != 0)
        part->SetName(kOriginalMailName);
    else if (read)
        part->SetFieldTextParameter("Content-Type", "name", name, charset);
}

}  // namespace

struct CMessageGenerator::Request {
    const char* outputPath;
    const char* body;
    const char* subject;
    const char* attachments;
    const char* from;
    const char* to;
    const char* cc;
    const char* replyTo;
    int originalMailFlag;
    const char* contentType;  // web-mail only
    std::string* messageIdOut;
};

CMessageGenerator::CMessageGenerator(ComposerEnvironment environment) : environment_(std::move(environment)) {}

int CMessageGenerator::GenerateMail(const char* outputPath, const char* body, const char* subject,
                                    const char* attachments, const char*, const char* from, const char* to,
                                    const char* cc, const char*, const char* replyTo, int, int originalMailFlag) {
    return Compose({outputPath, body, subject, attachments, from, to, cc, replyTo, originalMailFlag, nullptr, nullptr});
}

int CMessageGenerator::GenerateMail(const char* outputPath, const char* body, const char* subject,
                                    const char* attachments, const char*, const char* from, const char* to,
                                    const char* cc, const char*, const char* replyTo, int, const char* contentType,
                                    std::string* messageIdOut, int originalMailFlag) {
    return Compose({outputPath, body, subject, attachments, from, to, cc, replyTo, originalMailFlag,
                    contentType != nullptr ? contentType : "text/plain", messageIdOut});
}

std::string CMessageGenerator::NextMessageId() const {
    const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::mt19937 random(static_cast<std::uint32_t>(now ^ reinterpret_cast<std::uintptr_t>(this)));
    std::uniform_int_distribution<int> draw(0, 999999);
    const int r1 = draw(random);
    const int r2 = draw(random);
    int counter = g_messageIdCounter.fetch_add(1) + 1;
    if (counter >= 9) g_messageIdCounter.store(0);
    counter = (counter - 1) % 9 + 1;
    char text[80];
    std::snprintf(text, sizeof text, "<%03d_%06d.%06d@localuser>", counter, r2, r1);
    return text;
}

int CMessageGenerator::Compose(const Request& request) {
    if (request.outputPath == nullptr || request.body == nullptr) return 0;
    try {
        std::vector<std::string> attachments;
        if (request.attachments != nullptr && request.attachments[0] != '\0')
            attachments = SplitAttachmentList(request.attachments);
        std::vector<std::string> names;
        for (const std::string& path : attachments) {
            names.emplace_back(BaseName(path));
            if (names.back().size() + 24 > kDispositionCapacity) throw std::length_error(kBufferOverflow);
        }
        // The body goes out in the charset of the other texts, whatever a
        // web-mail body type names: pages give UTF-8 as typed. Bytes that
        // are not UTF-8 but valid in that named charset are read in it.
        std::string bodyText(request.body);
        std::string pageCharset;
        if (request.contentType != nullptr)
            mime::CHeaderField("Content-Type", request.contentType).GetParameter("charset", pageCharset);
        if (!pageCharset.empty() && !IsUtf8Text(bodyText)) {
            if (auto converted = ConvertCharset(bodyText, pageCharset, "UTF-8")) bodyText = std::move(*converted);
        }
        std::vector<std::string_view> texts;
        for (const char* text : {request.subject, request.from, request.to, request.cc, request.replyTo})
            if (text != nullptr) texts.emplace_back(text);
        texts.emplace_back(bodyText);
        texts.insert(texts.end(), names.begin(), names.end());
        const MailCharset mailCharset(environment_.charset(), texts);
        const std::string& charset = mailCharset.Name();
        const std::string body = NormalizeLineEnds(mailCharset.Encode(bodyText));
        const std::string& bodyCharset = charset;
        // A header field is written only with a value.
        const auto encoded = [&](const char* value) {
            return value != nullptr ? mailCharset.Encode(value) : std::string();
        };
        const auto addressList = [&](const char* value) {
            std::string list;
            if (value != nullptr && FormatAddressList(value, list, kAddressValueCapacity) == AddressListResult::kOverflow)
                throw std::length_error(kBufferOverflow);
            return mailCharset.Encode(list);
        };

        mime::CRfc822Message message(environment_.flavour);
        message.SetDate();
        message.SetVersion();
        message.SetCharset(bodyCharset);
        if (const std::string from = encoded(request.from); !IsBlank(from)) message.SetFrom(from, CharsetFor(from, charset));
        if (const std::string to = addressList(request.to); !to.empty()) message.SetTo(to, CharsetFor(to, charset));
        if (const std::string cc = addressList(request.cc); !cc.empty()) message.SetCc(cc, CharsetFor(cc, charset));
        if (const std::string subject = encoded(request.subject); !IsBlank(subject))
            message.SetSubject(subject, CharsetFor(subject, charset));
        message.SetFieldValue("X-Priority", "3");
        if (const std::string replyTo = encoded(request.replyTo); !IsBlank(replyTo))
            message.SetFieldValue("Reply-to", replyTo, CharsetFor(replyTo, charset));
        const std::string messageId = NextMessageId();
        message.SetFieldValue("Message-ID", messageId);
        if (request.messageIdOut != nullptr) *request.messageIdOut = messageId;
        if (request.contentType != nullptr) {
            // The web-mail body type, with the charset of the body's bytes.
            message.SetContentType(request.contentType);
            message.SetCharset(bodyCharset);
        }
        const std::string* date = message.GetFieldValue("Date");
        message.SetFieldValue("Received", "from localuser([127.0.0.1]) by localhost\r\n\twith SMTP; " +
                                              (date != nullptr ? *date : std::string()));

        if (!attachments.empty()) {
            message.SetContentType("multipart/mixed");
            message.SetBoundary(nullptr);
            mime::CMimeEntity* textPart = message.CreatePart();
            textPart->SetCharset(bodyCharset);
            textPart->SetTransferEncoding("base64");
            textPart->SetText(body);
            for (std::size_t i = 0; i < attachments.size(); ++i)
                AddAttachment(message, attachments[i], mailCharset.Encode(names[i]), charset, request.originalMailFlag);
        } else {
            message.SetText(body);
        }

        std::string stored = message.StoreToString();
        if (stored.size() < 2 || stored.compare(stored.size() - 2, 2, "\r\n") != 0) stored += "\r\n";
        FoldLongHeaderLines(stored);
        if (!AtomicWriteFile(request.outputPath, DotStuff(stored))) return 0;
        return 1;
    } catch (const std::exception& error) {
        QUORVEX_ERROR_LOG(error.what());
    }
    return 0;
}

void CMessageGenerator::Write(std::string_view bytes) {
    if (OutputStream != nullptr) OutputStream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int CMessageGenerator::WriteScrambledBlocks(std::ostream& stream, const char* bytes, std::size_t count,
                                            std::uint8_t key) {
    char block[4096];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(sizeof block, count - done);
        ScrambleBytes(bytes + done, block, n, key);
        stream.write(block, static_cast<std::streamsize>(n));
        done += n;
    }
    return 1;
}

}  // namespace quorvex::compose
