#include "mailmodel/compose/MailCharset.h"

#include "common/CharsetText.h"

namespace quorvex::compose {

namespace {

constexpr std::string_view kUtf8 = "UTF-8";

// The text in the language's charset; nothing when a character has no
// place there (or the charset is unknown).
std::optional<std::string> InLanguage(std::string_view text, const std::string& language) {
    const std::string utf8 = ReadAsUtf8(text, language);
    if (IsAsciiText(utf8) || IsUtf8CharsetName(language)) return utf8;
    return ConvertCharset(utf8, kUtf8, language);
}

}  // namespace

MailCharset::MailCharset(std::string_view languageCharset, std::initializer_list<std::string_view> texts)
    : MailCharset(languageCharset, std::vector<std::string_view>(texts)) {}

MailCharset::MailCharset(std::string_view languageCharset, const std::vector<std::string_view>& texts)
    : language_(languageCharset), name_(languageCharset) {
    // Encoded words and parameter pieces of a stateful charset cannot be
    // cut where each decodes on its own: such a language writes UTF-8.
    if (IsStatefulCharset(language_)) {
        toLanguage_ = false;
        name_ = kUtf8;
        return;
    }
    for (const std::string_view text : texts) {
        if (!InLanguage(text, language_)) {
            toLanguage_ = false;
            name_ = kUtf8;
            return;
        }
    }
}

std::string MailCharset::Encode(std::string_view text) const {
    if (toLanguage_) {
        if (auto converted = InLanguage(text, language_)) return std::move(*converted);
    }
    return ReadAsUtf8(text, language_);
}

}  // namespace quorvex::compose
