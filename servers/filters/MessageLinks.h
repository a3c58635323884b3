// Reads what the database filter needs of a message (the hosts of its
// text parts' "http://" links, the names of its attachments) as the file
// is read, piece by piece: the parts are found, their headers read and
// their texts decoded on the way, as loading the whole message into a
// MIME tree would find them, while no more than a few lines of it are
// held at any time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailmodel/mime/TransferDecodeStream.h"
#include "servers/filters/MailFilters.h"

namespace quorvex {

// Lines longer than this are taken in pieces of this size.
inline constexpr std::size_t kLinkScanPiece = 4096;
// At most this much of a part's header is kept (its MIME fields only).
inline constexpr std::size_t kLinkScanHeader = 16 * 1024;

class MessageLinkScanner {
public:
    // Parts are found as a tree of that flavour finds them.
    explicit MessageLinkScanner(mime::MimeFlavour flavour = mime::MimeFlavour::Server);

    // The next bytes of the message, in pieces of any size.
    void Feed(std::string_view bytes);
    // The end of the message (or of the part of it that was read).
    MessageLinks Finish();

private:
    enum class Phase { kHeader, kText, kSkip };
    // A multipart whose parts are being read.
    struct Frame {
        std::string delimiter;  // "--" and its boundary
        int depth;
    };

    void Take(std::string_view text, bool ends_line);
    void OnPiece(std::string_view piece, bool line_start, bool ends_line);
    void OnHeaderPiece(std::string_view piece, bool line_start, bool ends_line);
    void OnTextPiece(std::string_view piece, bool line_start, bool ends_line);
    void OnDelimiter(std::size_t frame, std::string_view after);
    void StartPart(int depth);
    // The part's header is read; `body_follows` unless the part ended
    // with it.
    void EndHeader(bool body_follows);
    void EndPart(bool at_end_of_message);
    void KeepHeaderText(std::string_view text);
    void FeedText(std::string_view piece, bool ends_line);
    void EndText(bool with_line_end);

    mime::MimeFlavour flavour_;
    MessageLinks links_;
    LinkHostCollector hosts_;
    std::vector<Frame> frames_;  // outermost first
    std::size_t parts_left_;
    bool done_ = false;

    // The line being assembled from the bytes fed, and whether an earlier
    // piece of it went out already.
    std::string line_;
    bool in_line_ = false;
    bool skip_line_ = false;  // the rest of a boundary line

    // The part being read.
    Phase phase_ = Phase::kHeader;
    int depth_ = 0;
    std::string header_;            // its MIME fields, lines with CR LF
    bool keeping_field_ = false;    // the header line being read is kept
    std::size_t field_start_ = 0;   // where the kept field being read begins in header_
    bool first_header_line_ = true;
    std::optional<mime::TransferDecodeStream> decoder_;
    std::string decoded_;
    bool uu_blocks_end_text_ = false;  // a uuencoded block ends the text
    std::size_t body_lines_ = 0;
    // An empty line of the text waits: it and the line end before it are
    // no text when a uuencoded block follows.
    bool held_empty_line_ = false;
};

}  // namespace quorvex
