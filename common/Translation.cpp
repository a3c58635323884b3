// Language file lookups, string resources and the window and menu walks.
#include "common/Translation.h"

#include <map>
#include <mutex>
#include <optional>

#include "common/BoundedString.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/TextHelpers.h"

namespace quorvex {

namespace {

std::mutex g_resource_mutex;
std::map<unsigned, std::string>& Resources() {
    static auto* resources = new std::map<unsigned, std::string>;
    return *resources;
}

// The non-empty value of `key` in section "String", cut to `limit`
// characters; nothing when there is no entry or it is empty.
std::optional<std::string> Lookup(const std::string& language_file, std::string_view key, std::size_t limit) {
    if (language_file.empty()) return std::nullopt;
    const auto document = ProfileFile(language_file).Load();
    const auto value = document->Find(kTranslationSection, key);
    if (!value || value->empty()) return std::nullopt;
    return std::string(value->substr(0, limit));
}

std::string TranslateBounded(std::string text, const std::string& language_file) {
    ReplaceAllSubstrings(text, "\r", "\\r");
    ReplaceAllSubstrings(text, "\n", "\\n");
    if (auto value = Lookup(language_file, text, kMaxTextLength)) text = std::move(*value);
    ReplaceAllSubstrings(text, "\\r", "\r");
    ReplaceAllSubstrings(text, "\\n", "\n");
    return text;
}

}  // namespace

std::string LanguageFilePath(std::string_view folder, std::string_view language) {
    language = language.substr(0, kMaxLanguageNameLength);
    // The name comes from a setting; it names a file inside the folder and
    // nothing else.
    if (language.find('/') != std::string_view::npos || language == "." || language == ".." ||
        language.find('\0') != std::string_view::npos) {
        QUORVEX_ERROR_LOG("language name is not a file name");
        return {};
    }
    std::string path = JoinPath(folder, "Language", std::string(language) + ".ini");
    if (path.size() > kMaxLanguagePathLength) {
        QUORVEX_ERROR_LOG(kBoundedOverflow);
        return {};
    }
    return path;
}

std::string GetLanguageFilePath() {
    const auto settings = Settings();
    std::string path = LanguageFilePath(settings->Folder(), settings->Language);
    // A program folder without language files uses the installed ones.
    if (!path.empty() && !FileExists(path)) {
        if (const std::string shared = SharedDataFolder(); !shared.empty()) {
            std::string installed = LanguageFilePath(shared, settings->Language);
            if (!installed.empty() && FileExists(installed)) return installed;
        }
    }
    return path;
}

std::optional<std::string> MissingLanguageFile(std::string_view folder, std::string_view language) {
    if (language == "English") return std::nullopt;
    std::string folders = JoinPath(folder, "Language");
    const std::string path = LanguageFilePath(folder, language);
    if (!path.empty() && FileExists(path)) return std::nullopt;
    if (const std::string shared = SharedDataFolder(); !shared.empty()) {
        const std::string installed = LanguageFilePath(shared, language);
        if (!installed.empty() && FileExists(installed)) return std::nullopt;
        folders.append(" or ").append(JoinPath(shared, "Language"));
    }
    return "a language with a file in " + folders;
}

std::string LanguageCharset() { return LanguageCharset(GetLanguageFilePath()); }

std::string LanguageCharset(const std::string& file) {
    if (file.empty()) return std::string(kDefaultCharset);
    std::string charset = ProfileFile(file).GetString(kLanguageInfoSection, kCharsetKey, kDefaultCharset);
    charset.resize(std::min(charset.size(), kMaxWindowTextLength));
    return charset;
}

std::string EscapeLineBreaks(std::string_view text) {
    return ReplaceAll(ReplaceAll(text, "\r", "\\r"), "\n", "\\n");
}

std::string UnescapeLineBreaks(std::string_view text) {
    return ReplaceAll(ReplaceAll(text, "\\r", "\r"), "\\n", "\n");
}

std::string TranslateText(std::string_view text) { return TranslateText(text, GetLanguageFilePath()); }

std::string TranslateText(std::string_view text, const std::string& language_file) {
    if (text.size() > kMaxSourceTextLength) {
        QUORVEX_ERROR_LOG(kBoundedOverflow);
        text = text.substr(0, kMaxSourceTextLength);
    }
    return TranslateBounded(std::string(text), language_file);
}

void RegisterStringResource(unsigned id, std::string_view text) {
    std::lock_guard lock(g_resource_mutex);
    Resources()[id] = std::string(text);
}

std::string LoadStringResource(unsigned id) {
    std::lock_guard lock(g_resource_mutex);
    const auto found = Resources().find(id);
    return found == Resources().end() ? std::string() : found->second;
}

std::string TranslateStringResource(unsigned id) {
    std::string text = LoadStringResource(id);
    text.resize(std::min(text.size(), kMaxTextLength));
    return TranslateBounded(std::move(text), GetLanguageFilePath());
}

std::string LoadTranslatedString(unsigned id) {
    std::string text = EscapeLineBreaks(LoadStringResource(id));
    if (auto value = Lookup(GetLanguageFilePath(), text, kMaxTextLength)) text = std::move(*value);
    return UnescapeLineBreaks(text);
}

void TranslateWindow(TranslatableWindow* window) {
    if (window == nullptr) return;
    const std::string language_file = GetLanguageFilePath();
    auto translate = [&language_file](TranslatableWindow& target) {
        const auto value = Lookup(language_file, EscapeLineBreaks(target.Text()), kMaxWindowTextLength);
        if (!value) return;
        if (*value == kInvisibleMarker) {
            target.SetText("");
            target.Hide();
        } else {
            target.SetText(UnescapeLineBreaks(*value));
        }
    };
    translate(*window);
    for (const auto& child : window->Children()) translate(*child);
}

namespace {

void TranslateMenuLevel(TranslatableMenu& menu, const std::string& language_file) {
    const int count = menu.ItemCount();
    std::vector<int> to_remove;
    for (int position = 0; position < count; ++position) {
        const std::string text = menu.ItemText(position);
        if (text.empty()) continue;  // a separator
        if (const auto value = Lookup(language_file, text, kMaxWindowTextLength)) {
            if (*value == kInvisibleMarker) {
                menu.SetItemText(position, "");
                to_remove.push_back(menu.ItemCommand(position));
            } else {
                menu.SetItemText(position, *value);
            }
        }
        if (auto submenu = menu.Submenu(position)) TranslateMenuLevel(*submenu, language_file);
    }
    for (const int command : to_remove) menu.RemoveCommand(command);
}

}  // namespace

void TranslateMenu(TranslatableMenu* menu) {
    if (menu == nullptr) return;
    TranslateMenuLevel(*menu, GetLanguageFilePath());
}

}  // namespace quorvex
