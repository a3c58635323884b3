// CStringTokenizer: substring splitting over its own bounded copy.
#include "common/StringTokenizer.h"

#include "common/BoundedString.h"
#include "common/ErrorLog.h"

namespace quorvex {

namespace {

std::string KeepBounded(std::string_view text) {
    if (text.size() <= CStringTokenizer::kMaxLength) return std::string(text);
    QUORVEX_ERROR_LOG(kBoundedOverflow);
    return std::string(text.substr(0, CStringTokenizer::kMaxLength));
}

}  // namespace

CStringTokenizer::CStringTokenizer(std::string_view text, std::string_view delimiter)
    : text_(KeepBounded(text)), delimiter_(KeepBounded(delimiter)) {}

std::string_view CStringTokenizer::NextToken() {
    const std::string_view rest = Remainder();
    // An empty delimiter "occurs" at the cursor: the rest of the text is gone.
    if (delimiter_.empty()) {
        cursor_ = text_.size();
        return {};
    }
    const std::size_t at = rest.find(delimiter_);
    if (at == std::string_view::npos) {
        cursor_ = text_.size();
        return rest;
    }
    cursor_ += at + delimiter_.size();
    return rest.substr(0, at);
}

}  // namespace quorvex
