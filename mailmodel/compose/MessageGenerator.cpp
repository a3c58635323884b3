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
#include "common/ErrorLog.h"
#include "common/Paths.h"
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
        const std::string charset = environment_.charset();
        mime::CRfc822Message message(environment_.flavour);
        message.SetDate();
        message.SetVersion();
        message.SetCharset(charset);
        if (request.from != nullptr) message.SetFrom(request.from, CharsetFor(request.from, charset));
        std::string list;
        if (request.to != nullptr) {
            if (FormatAddressList(request.to, list, kAddressValueCapacity) == AddressListResult::kOverflow)
                throw std::length_error(kBufferOverflow);
            if (!list.empty()) message.SetTo(list, CharsetFor(list, charset));
        }
        if (request.cc != nullptr) {
            if (FormatAddressList(request.cc, list, kAddressValueCapacity) == AddressListResult::kOverflow)
                throw std::length_error(kBufferOverflow);
            if (!list.empty()) message.SetCc(list, CharsetFor(list, charset));
        }
        if (request.subject != nullptr) message.SetSubject(request.subject, CharsetFor(request.subject, charset));
        message.SetFieldValue("X-Priority", "3");
        if (request.replyTo != nullptr)
            message.SetFieldValue("Reply-to", request.replyTo, CharsetFor(request.replyTo, charset));
        const std::string messageId = NextMessageId();
        message.SetFieldValue("Message-ID", messageId);
        if (request.messageIdOut != nullptr) *request.messageIdOut = messageId;
        if (request.contentType != nullptr) {
            // The web-mail body type; its charset is declared with it so
            // that 8-bit text is readable.
            std::string type = request.contentType;
            message.SetContentType(type);
            if (message.GetFieldParameter("Content-Type", "charset").empty()) message.SetCharset(charset);
        }
        const std::string* date = message.GetFieldValue("Date");
        message.SetFieldValue("Received", "from localuser([127.0.0.1]) by localhost\r\n\twith SMTP; " +
                                              (date != nullptr ? *date : std::string()));

        const std::string body = NormalizeLineEnds(request.body);
        if (request.attachments != nullptr && request.attachments[0] != '\0') {
            message.SetContentType("multipart/mixed");
            message.SetBoundary(nullptr);
            mime::CMimeEntity* text = message.CreatePart();
            text->SetCharset(charset);
            text->SetTransferEncoding("base64");
            text->SetText(body);
            for (const std::string& path : SplitAttachmentList(request.attachments)) {
                mime::CMimeEntity* part = message.CreatePart();
                part->SetTransferEncoding("base64");
                part->SetContentType("application/octet-stream");
                const std::string name(BaseName(path));
                if (name.size() + 24 > kDispositionCapacity) throw std::length_error(kBufferOverflow);
                part->SetDisposition("attachment; filename=\"" + name + "\"", CharsetFor(name, charset));
                // A file that cannot be read leaves its part empty.
                if (!path.empty()) part->ReadFromFile(path);
                if (request.originalMailFlag != 0) part->SetName(kOriginalMailName);
                // An 8-bit file name in the name parameter goes out as encoded words.
                if (const std::string* type = part->GetFieldValue("Content-Type"); type != nullptr && HasEightBit(*type))
                    part->SetContentType(std::string(*type), charset.c_str());
            }
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
