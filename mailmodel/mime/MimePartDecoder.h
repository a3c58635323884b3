// The line-level half of the stored-message parser: says what each line of
// a message file means (header line of a part, end of a part header,
// boundary, end of the outermost multipart), fills the record of the
// current part, keeps the stack of open boundaries, and undoes encoded
// words, quoted-printable and base64 line by line. Touches no file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::mime {

// Capacities of the part record's texts; longer values are cut.
inline constexpr std::size_t kPartTypeCapacity = 63;
inline constexpr std::size_t kPartTextCapacity = 256;
inline constexpr std::size_t kBoundaryCapacity = 70;
inline constexpr std::size_t kHeaderTokenCapacity = 512;
// Nested multiparts deeper than this are read as plain bodies.
inline constexpr std::size_t kMaxBoundaryDepth = 32;

struct MimePart {
    virtual ~MimePart() = default;

    std::int64_t Offset = 0;  // file position of the first body byte
    std::int64_t Length = 0;  // file bytes of the body
    bool Kept = false;        // written out
    std::string ContentType;  // first token of Content-Type
    std::string Charset;
    std::string TransferEncoding;
    std::string FileName;  // sanitised; "unknown" for an attachment without one
    std::string ContentId;
    std::string Name;  // sanitised name parameter or Content-Location
    std::string Description;
    bool IsAttachment = false;
};

// Header flags of a whole header (ParsePartHeader).
inline constexpr int kHeaderMultipart = 0x92;
inline constexpr int kHeaderEncoded = 0x82;
inline constexpr int kHeaderMultipartBit = 0x10;

class MimeDecoderBase {
public:
    virtual ~MimeDecoderBase() = default;
};

class MimePartDecoder : public MimeDecoderBase {
public:
    enum LineResult : int { kNothing = 0, kKeep = 1, kBodyStarts = 2, kBoundary = 3, kEnd = -1 };
    enum Decoding : int { kDecodeNone = 0, kDecodeQuotedPrintable = 1, kDecodeBase64 = 2 };

    // One line as read from the file (its line end still in it).
    int ParsePartLine(std::string_view line, MimePart& part);
    int ParsePartHeader(std::string_view headerText);
    void SelectPartDecoding(const MimePart& part);
    // Appends the decoded bytes of one body line.
    void DecodePartLine(std::string_view line, std::string& out) const;
    static void DecodeBase64Line(std::string_view line, std::string& out);
    // First call with a text starts a scan; null continues it. False when
    // no further token exists.
    bool NextHeaderAddress(const std::string_view* text, std::string& token);
    static bool IsDecodableType(std::string_view type);

    // Empty: header texts keep their bytes. Else they are read as UTF-8
    // (DecodeEncodedWordsToUtf8), undeclared 8-bit bytes in this charset.
    std::string TextCharset;
    // Scan state: 1 while lines belong to a header block, 0 in a body.
    int PartScanState = 1;
    int PartDecoding = kDecodeNone;
    bool PartDecodable = false;
    // Open boundaries, innermost last ("--" and at most 70 characters).
    std::vector<std::string> BoundaryStack;

private:
    int ParseHeaderLine(std::string_view line, MimePart& part);
    int ParseBodyLine(std::string_view line);

    std::string scanText_;
    std::size_t scanPos_ = 0;
    int scanState_ = 0;
    int scanSaved_ = 0;
    int scanDepth_ = 0;
};

// Removes every CR and LF.
std::string WithoutLineBreaks(std::string_view text);

}  // namespace quorvex::mime
