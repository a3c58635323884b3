// "WebMail/Language.txt" in the program folder: one server-side include
// line that makes the web-mail pages load the language of the settings.
// Written by the first-run setup and again when the settings change.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::app {

// The language name as it may be used in a path or an include line:
// [A-Za-z0-9_-], 1 to 64 characters; anything else gives "English".
std::string SafeLanguageName(std::string_view language);

// <!-- #include file="language\<language>.txt" -->
std::string WebMailLanguageLine(std::string_view language);

// Writes the file (creating WebMail) atomically. False when it could not.
bool WriteWebMailLanguageFile(const std::string& program_folder, std::string_view language);

}  // namespace quorvex::app
