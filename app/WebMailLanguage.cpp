#include "app/WebMailLanguage.h"

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"

namespace quorvex::app {

namespace {

constexpr std::size_t kMaxLanguageName = 64;
constexpr std::string_view kFallbackLanguage = "English";

bool LanguageCharacter(char c) {
    return IsAsciiAlnum(c) || c == '_' || c == '-';
}

}  // namespace

std::string SafeLanguageName(std::string_view language) {
    if (language.empty() || language.size() > kMaxLanguageName) return std::string(kFallbackLanguage);
    for (char c : language) {
        if (!LanguageCharacter(c)) return std::string(kFallbackLanguage);
    }
    return std::string(language);
}

std::string WebMailLanguageLine(std::string_view language) {
    return "<!-- #include file=\"language\\" + SafeLanguageName(language) + ".txt\" -->";
}

bool WriteWebMailLanguageFile(const std::string& program_folder, std::string_view language) {
    const std::string folder = JoinPath(program_folder, "WebMail");
    if (!MakeFolders(folder, 0750)) return false;
    return AtomicWriteFile(JoinPath(folder, "Language.txt"), WebMailLanguageLine(language), 0640);
}

}  // namespace quorvex::app
