// Line-end normalising, header folding and dot-stuffing.
#include "mailmodel/compose/MessageText.h"

namespace quorvex::compose {

std::string NormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

void FoldLongHeaderLines(std::string& message) {
    std::size_t headerEnd = message.find("\r\n\r\n");
    if (headerEnd == std::string::npos) headerEnd = message.size();
    std::size_t lineStart = 0;
    while (lineStart < headerEnd) {
        std::size_t lineEnd = message.find("\r\n", lineStart);
        if (lineEnd == std::string::npos || lineEnd > headerEnd) lineEnd = headerEnd;
        if (lineEnd - lineStart <= kMaxHeaderLineBytes) {
            lineStart = lineEnd + 2;
            continue;
        }
        // Break before the last blank that keeps this line within the limit
        // and leaves something in front of it.
        std::size_t cut = std::string::npos;
        for (std::size_t p = lineStart + kMaxHeaderLineBytes; p > lineStart + 1; --p)
            if (message[p] == ' ' || message[p] == '\t') {
                cut = p;
                break;
            }
        if (cut != std::string::npos) {
            message.insert(cut, "\r\n");
            headerEnd += 2;
        } else {
            cut = lineStart + kMaxHeaderLineBytes - 1;
            message.insert(cut, "\r\n ");
            headerEnd += 3;
        }
        lineStart = cut + 2;
    }
}

std::string DotStuff(std::string_view message) {
    std::string out;
    out.reserve(message.size() + 16);
    // Whole lines at a time: a message of megabytes of Base64 lines is
    // copied, not walked byte by byte.
    for (std::size_t at = 0; at < message.size();) {
        if (message[at] == '.') out += '.';
        const std::size_t lf = message.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? message.size() : lf + 1;
        out.append(message.substr(at, end - at));
        at = end;
    }
    return out;
}

}  // namespace quorvex::compose
