// The mail composer: writes the messages the system originates itself
// (auto-reply, non-delivery report, administrator mail, web-mail) as
// complete MIME messages, and the text-template path that writes a
// message piece by piece into a stream.
//
// GenerateMail's file is in the stored form the mailbox and the outgoing
// queue keep: CR LF lines, header lines within 998 bytes, dot-stuffed once.
#pragma once

#include <cstdint>
#include <ctime>
#include <ostream>
#include <string>
#include <string_view>

#include "mailmodel/compose/ComposerEnvironment.h"
#include "mailmodel/compose/MailAddress.h"

namespace quorvex::compose {

// One file to attach in the text-template path.
struct MailAttachment {
    static constexpr std::size_t kPathCapacity = 260;
    static constexpr std::size_t kContentNameCapacity = 4096;

    std::string Path;
    std::string FileName;     // base name with extension
    std::string ContentName;  // the name written into the part header

    int SetPath(std::string_view path);
    const std::string& GetContentName() const { return ContentName; }
    void SetContentName(std::string_view name);
};

class CMessageGenerator {
public:
    explicit CMessageGenerator(ComposerEnvironment environment = ComposerEnvironment::Server());
    virtual ~CMessageGenerator() = default;

    // Read only by the text-template path: every attachment is named
    // "original_email.eml".
    int OriginalMailFlag = 0;
    // The stream of the text-template path; the caller opens and closes it.
    std::ostream* OutputStream = nullptr;

    // Null texts are absent, and so are a blank From, Subject or Reply-to
    // (no empty header is written). The texts (UTF-8 as typed) go out in the
    // charset MailCharset picks for all of them, which the message declares.
    // Arguments 5 (mailer), 9 (Bcc) and 11 are accepted for the callers and
    // not used. 1 when the file was written.
    int GenerateMail(const char* outputPath, const char* body, const char* subject, const char* attachments,
                     const char* mailer, const char* from, const char* to, const char* cc, const char* bcc,
                     const char* replyTo, int unused, int originalMailFlag);
    // The web-mail form: argument 12 is the body's content type, whose
    // charset is replaced by the one the body goes out in (a body that is
    // not UTF-8 is read in the charset it names), 13 receives the
    // Message-ID value (brackets included).
    int GenerateMail(const char* outputPath, const char* body, const char* subject, const char* attachments,
                     const char* mailer, const char* from, const char* to, const char* cc, const char* bcc,
                     const char* replyTo, int unused, const char* contentType, std::string* messageIdOut,
                     int originalMailFlag);

    // The text-template path, called in this order on one generator.
    int GenerateTemplateMail(const char* subject, const char* mailer, const char* from, const char* to,
                             const char* cc, const char* replyTo);
    int WriteTemplateTextPart(const char* body);
    int WriteTemplateAttachments(const char* paths);
    // One or more B words of the language charset; empty text gives "".
    int EncodeHeaderWord(std::string& out, const char* text);
    int WriteBase64Text(const char* text);
    int WriteBase64File(const std::string& path);
    static void ParseAddress(MailAddress& address, std::string_view text);
    static int WriteScrambledBlocks(std::ostream& stream, const char* bytes, std::size_t count, std::uint8_t key);

private:
    struct Request;
    int Compose(const Request& request);
    std::string NextMessageId() const;
    void Write(std::string_view bytes);

    ComposerEnvironment environment_;
};

}  // namespace quorvex::compose
