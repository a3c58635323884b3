// Text of the language files as the window shows it. Language files are
// 8-bit files in the character set their "[Info] charset" names (GB2312 and
// Big5 among them); Qt itself decodes only UTF-8 and Latin-1, so the other
// sets go through iconv.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace quorvex::gui {

// Decodes `bytes` from `charset` (any name iconv knows, in any case). An
// empty or unknown charset, or bytes invalid in it, fall back to UTF-8 for
// valid UTF-8 text and to Latin-1 otherwise, so nothing is ever lost.
QString DecodeText(std::string_view bytes, std::string_view charset);

// Texts of the program's own files (account names, comments, log lines):
// UTF-8 where valid, Latin-1 otherwise.
QString FromFileText(std::string_view bytes);
std::string ToFileText(const QString& text);

}  // namespace quorvex::gui
