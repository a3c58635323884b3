// Reading "Welcome.inbox" back into the fields of the welcome message
// editor, and writing the edited message. The file is the stored message
// form (CR LF lines, a leading dot doubled), which reading undoes, so a
// message opened and saved unchanged keeps its texts exactly.
#pragma once

#include <string>
#include <string_view>

#include "mailmodel/WelcomeMail.h"

namespace quorvex::gui {

// The texts the window edits are UTF-8; a message holding other than ASCII
// declares it.
inline constexpr const char* kTypedTextCharset = "UTF-8";

// The From, To and Subject values (header names in any case, the
// subject's encoded words decoded) and the body: everything after the
// empty line that ends the header, without its last line end, with doubled
// leading dots made single again. Lines may end in CR LF or in LF alone; a
// file without the empty line has an empty body.
WelcomeMail ParseWelcomeFile(std::string_view bytes);

// The message of the file, or the standard message when it cannot be read.
WelcomeMail LoadWelcomeForEditing(const std::string& path);

enum class WelcomeSave { kSaved, kTooLong, kFailed };

// Writes the message atomically (a failed write leaves the old file), its
// texts declared UTF-8; control characters are taken out of sender,
// receiver and subject. A message longer than the file may be is refused,
// not cut.
WelcomeSave SaveWelcome(const std::string& path, WelcomeMail mail);

}  // namespace quorvex::gui
