// Token trimming, substring replacement and angle-address extraction.
#include "common/TextHelpers.h"

#include <algorithm>

#include "common/BoundedString.h"
#include "common/ErrorLog.h"

namespace quorvex {

void TrimToken(std::string& text, std::string_view token) {
    if (text.empty() || token.empty() || token.size() > text.size()) return;
    std::size_t start = 0;
    while (std::string_view(text).substr(start).starts_with(token)) start += token.size();
    std::size_t end = text.size();
    while (end - start >= token.size() && std::string_view(text).substr(start, end - start).ends_with(token))
        end -= token.size();
    text = text.substr(start, end - start);
}

std::string_view TrimChars(std::string_view text, std::string_view chars) {
    const auto first = text.find_first_not_of(chars);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

std::vector<std::string> SplitList(std::string_view list) {
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        auto end = list.find(';', begin);
        if (end == std::string_view::npos) end = list.size();
        if (end > begin) pieces.emplace_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

std::string JoinTexts(const std::vector<std::string>& texts, std::string_view separator) {
    std::string joined;
    for (std::size_t i = 0; i < texts.size(); ++i) joined.append(i == 0 ? "" : separator).append(texts[i]);
    return joined;
}

void ReplaceAllInPlace(std::string& text, std::string_view search, std::string_view replacement) {
    if (search.empty()) return;
    std::size_t at = text.find(search);
    if (at == std::string::npos) return;  // the common case: nothing to copy
    std::string out;
    std::size_t from = 0;
    for (; at != std::string::npos; from = at + search.size(), at = text.find(search, from))
        out.append(text, from, at - from).append(replacement);
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replacement) {
    std::string out(text);
    ReplaceAllInPlace(out, search, replacement);
    return out;
}

bool ReplaceAllSubstrings(std::string& text, std::size_t capacity, std::string_view search,
                          std::string_view replacement) {
    std::string result = ReplaceAll(text, search, replacement);
    const std::size_t limit = std::min(kReplaceWorkLength, capacity > 0 ? capacity - 1 : 0);
    const bool whole = result.size() <= limit;
    if (!whole) {
        result.resize(limit);
        QUORVEX_ERROR_LOG(kBoundedOverflow);
    }
    text = std::move(result);
    return whole;
}

int ExtractAngleAddress(std::string_view text, std::string& out, std::size_t capacity) {
    out.clear();
    const std::size_t open = text.find('<');
    if (open == std::string_view::npos) {
        const std::size_t limit = capacity > 0 ? capacity - 1 : 0;
        if (text.size() > limit) QUORVEX_ERROR_LOG(kBoundedOverflow);
        out.assign(text.substr(0, limit));
        return 1;
    }
    const std::size_t close = text.find('>');
    if (close != std::string_view::npos && close < open) return 0;
    // A missing ">" takes the rest of the text: the address is all there is.
    const std::size_t end = close == std::string_view::npos ? text.size() : close;
    if (close == std::string_view::npos && end == open + 1) return 0;
    const std::string_view address = text.substr(open + 1, end - open - 1);
    if (address.size() >= capacity) return 0;
    out.assign(address);
    return 1;
}

}  // namespace quorvex
