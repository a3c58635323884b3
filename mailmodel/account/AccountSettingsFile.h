// Reading and writing an account's "maillist.ini" under the account-file
// lock: one snapshot for a load, one atomic rewrite for a save, so a reader
// never sees half a save. Values holding CR or LF are refused before
// anything is written.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace quorvex {

// The account's settings as they are now; nothing when the name cannot be
// turned into a path. A missing file reads as empty.
std::shared_ptr<const IniDocument> LoadAccountSettings(std::string_view account);

// Applies `change` to the account's settings in one atomic rewrite. False
// when the path cannot be built, `change` refuses, or the write fails.
bool EditAccountSettings(std::string_view account, const std::function<bool(IniDocument&)>& change);

// True when the text can be stored as a profile value (no CR, LF or NUL).
bool IsStorableValue(std::string_view text);

// A value read from a loaded document, cut to `limit` characters.
std::string ReadValue(const IniDocument& doc, std::string_view section, std::string_view key, std::size_t limit,
                      std::string_view default_value = "");

}  // namespace quorvex
