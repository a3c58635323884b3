// Turns one stored message file into files a web page can show: the header
// values, the first text part as "body.txt", the first HTML part as
// "body.html" (its "cid:" links made relative) and every other part under
// its sanitised name or as "ATT%05d.dat", all in the message's folder.
// The file is read as a stream of lines, never loaded whole.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mailmodel/mime/MessageFile.h"
#include "mailmodel/mime/MimePartDecoder.h"

namespace quorvex::mime {

// What differs in the web-mail component's build of the parser.
struct MimeParserLimits {
    std::size_t toCcCapacity = 256;
    // BodyText takes a further chunk only while it is shorter than this.
    std::size_t bodyTextLimit = std::numeric_limits<std::size_t>::max();

    // Empty: header values, names and BodyText keep the message's bytes.
    // Else they are UTF-8, read in the charsets the message declares and
    // undeclared 8-bit text in this one (the language's charset).
    std::string textCharset;

    static MimeParserLimits WebMail(std::string textCharset = {}) { return {4096, 65536, std::move(textCharset)}; }
};

class MimeMessageParser {
public:
    enum Result : int { kDone = 0, kReadFailed = 2, kNoResources = 6 };
    static constexpr std::size_t kHeaderFieldCapacity = 256;
    // Parts beyond this many end the scan of a hostile message.
    static constexpr std::size_t kMaxParts = 10000;

    explicit MimeMessageParser(MimeParserLimits limits = {});
    virtual ~MimeMessageParser() = default;
    MimeMessageParser(const MimeMessageParser&) = delete;
    MimeMessageParser& operator=(const MimeMessageParser&) = delete;

    // Reads folder/fileName, scans its parts and writes them into the
    // folder. The link base is accepted for the web-mail caller and unused.
    int ParseFile(const std::string& folder, const std::string& fileName, const std::string& linkBase = {});
    // Reads the header block from the file's start; leaves the file after it.
    int ReadHeaders(MessageFile& file);

    const std::string& GetFrom() const { return From; }
    const std::string& GetDate() const { return Date; }
    std::int64_t GetFileSize() const { return FileSize; }
    int CountAttachments() const;
    const std::string* FirstAttachmentName();
    const std::string* NextAttachmentName();

    MimePartDecoder Decoder;
    std::vector<std::string> AttachmentPaths;
    std::string Subject;
    std::string Date;
    std::string MessageId;
    std::string MimeVersion = "1.0";
    std::vector<MimePart> PartList;
    int AttachmentCursor = -1;
    std::int64_t FileSize = 0;
    std::int64_t HeaderLength = 0;
    int HeaderFlags = 0;
    std::string BodyText;
    std::string BodyCharset;  // the charset parameter of BodyText's part
    std::string HtmlBodyPath;
    std::string TextBodyPath;
    std::string From;
    std::string To;
    std::string Cc;
    std::string ReplyTo;

private:
    void ParseHeaderField(const std::string& field);
    int WriteParts(MessageFile& file, const MimePart& part, const std::string& folder, int& counter);
    std::string OutputName(const MimePart& part, int& counter, bool& html, bool& text, bool& listed);
    void FlushChunk(std::string& chunk, bool html, bool text, int fd, bool& writeFailed);

    MimeParserLimits limits_;
    std::string sourceName_;
    // Content ids that had to be made safe as file names, with their safe form.
    std::vector<std::pair<std::string, std::string>> renamedIds_;
};

// A content id as a file name: unchanged when it is already safe inside
// one folder, else sanitised.
std::string SafeContentIdName(const std::string& contentId);

}  // namespace quorvex::mime
