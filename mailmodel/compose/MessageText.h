// Whole-message text fixes the composer applies before a message leaves
// it: CR LF line ends, header lines within the 998-byte limit of RFC 5322,
// and the stored, dot-stuffed form that the mailbox and the queue keep.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::compose {

inline constexpr std::size_t kMaxHeaderLineBytes = 998;

// Bare CR and bare LF become CR LF.
std::string NormalizeLineEnds(std::string_view text);
// Folds every header line (up to the first empty line) longer than 998
// bytes: before its last blank within the limit, else with CR LF and a
// blank inserted at the limit.
void FoldLongHeaderLines(std::string& message);
// Doubles the '.' that starts a line (RFC 5321 4.5.2).
std::string DotStuff(std::string_view message);

}  // namespace quorvex::compose
