// The piecewise reading of a message's parts for the database filter.
#include "servers/filters/MessageLinks.h"

#include "common/AsciiCase.h"
#include "mailmodel/mime/EntityHeader.h"
#include "mailmodel/mime/MimeEntity.h"

namespace quorvex {
namespace {

// The header fields that decide what a part is; the rest are not kept.
constexpr std::string_view kMimeFields[] = {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};

bool IsMimeField(std::string_view line) {
    const std::size_t colon = line.find_first_of(std::string_view(":\0\r\n", 4));
    if (colon == std::string_view::npos || line[colon] != ':') return false;
    for (const std::string_view name : kMimeFields) {
        if (EqualsNoCase(line.substr(0, colon), name)) return true;
    }
    return false;
}

// "begin", a blank, three digits and a blank: the first line of a
// uuencoded block (in any letter case where it opens a part's header).
bool IsUuBeginLine(std::string_view line, bool any_case) {
    if (line.size() < 10) return false;
    if (any_case ? !StartsWithNoCase(line, "begin ") : !line.starts_with("begin ")) return false;
    for (std::size_t i = 6; i < 9; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
    }
    return line[9] == ' ';
}

}  // namespace

MessageLinkScanner::MessageLinkScanner(mime::MimeFlavour flavour)
    : flavour_(flavour), hosts_(links_.hosts), parts_left_(mime::kMaxMimeParts) {
    StartPart(0);
}

void MessageLinkScanner::Feed(std::string_view bytes) {
    while (!bytes.empty() && !done_) {
        // A CR that ended the bytes before may pair with this LF.
        if (!line_.empty() && line_.back() == '\r' && bytes.front() == '\n') {
            line_.pop_back();
            bytes.remove_prefix(1);
            Take(line_, true);
            line_.clear();
            continue;
        }
        const std::size_t room = kLinkScanPiece - line_.size();
        const std::size_t crlf = bytes.substr(0, room + 2).find("\r\n");
        if (crlf != std::string_view::npos) {
            if (line_.empty()) {
                Take(bytes.substr(0, crlf), true);
            } else {
                line_.append(bytes.substr(0, crlf));
                Take(line_, true);
                line_.clear();
            }
            bytes.remove_prefix(crlf + 2);
            continue;
        }
        const std::size_t take = std::min(room, bytes.size());
        line_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (line_.size() == kLinkScanPiece) {
            // A piece of a longer line; a CR at its end waits for its LF.
            const std::size_t cut = line_.back() == '\r' ? line_.size() - 1 : line_.size();
            Take(std::string_view(line_).substr(0, cut), false);
            line_.erase(0, cut);
        }
    }
}

MessageLinks MessageLinkScanner::Finish() {
    if (!done_) {
        if (!line_.empty()) Take(line_, false);
        line_.clear();
        EndPart(true);
        done_ = true;
    }
    return std::move(links_);
}

void MessageLinkScanner::Take(std::string_view text, bool ends_line) {
    const bool line_start = !in_line_;
    in_line_ = !ends_line;
    OnPiece(text, line_start, ends_line);
}

void MessageLinkScanner::OnPiece(std::string_view piece, bool line_start, bool ends_line) {
    if (done_) return;
    if (skip_line_) {
        skip_line_ = !ends_line;
        return;
    }
    // A boundary line of an open multipart ends the part being read, in
    // whatever state; the outermost multipart's boundary wins.
    if (line_start && piece.starts_with("--")) {
        for (std::size_t k = 0; k < frames_.size(); ++k) {
            if (!piece.starts_with(frames_[k].delimiter)) continue;
            skip_line_ = !ends_line;
            OnDelimiter(k, piece.substr(frames_[k].delimiter.size()));
            return;
        }
    }
    switch (phase_) {
        case Phase::kHeader:
            OnHeaderPiece(piece, line_start, ends_line);
            return;
        case Phase::kText:
            OnTextPiece(piece, line_start, ends_line);
            return;
        case Phase::kSkip:
            return;
    }
}

void MessageLinkScanner::OnDelimiter(std::size_t frame, std::string_view after) {
    EndPart(false);
    // Multiparts inside the part that ended end with it.
    frames_.resize(frame + 1);
    if (after.starts_with("--")) {
        // The last boundary: what follows up to an outer boundary is no part.
        frames_.pop_back();
        return;
    }
    if (parts_left_ == 0) {
        done_ = true;
        return;
    }
    --parts_left_;
    StartPart(frames_[frame].depth + 1);
}

void MessageLinkScanner::StartPart(int depth) {
    phase_ = Phase::kHeader;
    depth_ = depth;
    header_.clear();
    keeping_field_ = false;
    field_start_ = 0;
    first_header_line_ = true;
    decoder_.reset();
    held_empty_line_ = false;
    body_lines_ = 0;
}

void MessageLinkScanner::KeepHeaderText(std::string_view text) {
    if (!keeping_field_) return;
    if (header_.size() + text.size() > kLinkScanHeader) {
        // Past the bound the field is dropped whole, never kept cut.
        header_.resize(field_start_);
        keeping_field_ = false;
        return;
    }
    header_.append(text);
}

void MessageLinkScanner::OnHeaderPiece(std::string_view piece, bool line_start, bool ends_line) {
    if (line_start) {
        const bool first = first_header_line_;
        first_header_line_ = false;
        // A part that opens with "begin nnn name" is a uuencoded file: that
        // line is its whole header.
        if (first && ends_line && mime::TraitsOf(flavour_).uuencode && IsUuBeginLine(piece, true)) {
            header_.assign(piece).append("\r\n");
            EndHeader(true);
            return;
        }
        if (piece.empty() && ends_line) {
            EndHeader(true);
            return;
        }
        // A line that begins with a blank or a tab continues the field.
        if (!piece.empty() && piece.front() != ' ' && piece.front() != '\t') {
            keeping_field_ = IsMimeField(piece);
            field_start_ = header_.size();
        }
    }
    KeepHeaderText(piece);
    if (ends_line) KeepHeaderText("\r\n");
}

void MessageLinkScanner::EndHeader(bool body_follows) {
    const std::string text = header_ + "\r\n";
    mime::CEntityHeader header(flavour_);
    header.Load(text.data(), text.size());
    phase_ = Phase::kSkip;
    if (header.GetMediaType() == mime::kMediaMultipart) {
        // Only its parts count; deeper than the nesting bound it has none.
        const std::string boundary = header.GetBoundary();
        if (body_follows && !boundary.empty() && depth_ < mime::kMaxMimeDepth) {
            frames_.push_back({"--" + boundary, depth_});
        }
        return;
    }
    if (header.IsAttachment()) {
        const std::string file_name = header.GetFilename();
        CollectAttachmentName(file_name.empty() ? header.GetName() : file_name, links_.attachments);
    }
    if (body_follows && header.IsText()) {
        phase_ = Phase::kText;
        decoder_.emplace(header.GetTransferEncoding(), flavour_);
        uu_blocks_end_text_ = mime::TraitsOf(flavour_).uuencode && depth_ < mime::kMaxMimeDepth;
    }
}

void MessageLinkScanner::OnTextPiece(std::string_view piece, bool line_start, bool ends_line) {
    if (line_start && held_empty_line_ && uu_blocks_end_text_ && body_lines_ >= 2 && IsUuBeginLine(piece, false)) {
        // The text ends in front of the empty line that opens the block.
        held_empty_line_ = false;
        EndText(false);
        phase_ = Phase::kSkip;
        return;
    }
    if (held_empty_line_) {
        held_empty_line_ = false;
        FeedText({}, true);
    }
    if (ends_line) ++body_lines_;
    if (line_start && ends_line && piece.empty()) {
        held_empty_line_ = true;
        return;
    }
    FeedText(piece, ends_line);
}

void MessageLinkScanner::FeedText(std::string_view piece, bool ends_line) {
    decoder_->Feed(piece, ends_line, decoded_);
    hosts_.Feed(decoded_);
    decoded_.clear();
}

void MessageLinkScanner::EndText(bool with_line_end) {
    decoder_->Finish(with_line_end, decoded_);
    hosts_.Feed(decoded_);
    decoded_.clear();
    hosts_.End();
    decoder_.reset();
}

void MessageLinkScanner::EndPart(bool at_end_of_message) {
    switch (phase_) {
        case Phase::kHeader:
            // The header's last line ends without its line end (a boundary
            // follows, or the message ends in it): that field is not read.
            if (keeping_field_ && (!at_end_of_message || in_line_)) header_.resize(field_start_);
            EndHeader(false);
            break;
        case Phase::kText:
            if (held_empty_line_) {
                held_empty_line_ = false;
                FeedText({}, true);
            }
            // Up to a boundary the line end in front of it is no text.
            EndText(at_end_of_message);
            break;
        case Phase::kSkip:
            break;
    }
    phase_ = Phase::kSkip;
}

}  // namespace quorvex
