// Interface translation. Every text the program shows is written in
// English and looked up in the language file "<program folder>/Language/
// <Language>.ini", section "String", keyed by the English text with CR and
// LF written as the two characters "\r" and "\n". A text without an entry
// (or with an empty one) stays English; the value "_INVISIBLE_" hides a
// window or removes a menu item. Nothing is cached here beyond the profile
// layer's change-checked cache, so a new Language takes effect at once.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

inline constexpr std::string_view kInvisibleMarker = "_INVISIBLE_";
inline constexpr std::string_view kTranslationSection = "String";
inline constexpr std::string_view kLanguageInfoSection = "Info";
inline constexpr std::string_view kCharsetKey = "charset";
inline constexpr std::string_view kDefaultCharset = "iso-8859-1";

// Translations of window texts and menu items are cut to this many
// characters, those of string resources and given texts to kMaxTextLength.
inline constexpr std::size_t kMaxWindowTextLength = 1023;
inline constexpr std::size_t kMaxTextLength = 4095;
// A given text is looked up with at most this many characters.
inline constexpr std::size_t kMaxSourceTextLength = 4096;
// The language name is used up to this many characters.
inline constexpr std::size_t kMaxLanguageNameLength = 1023;
// Paths longer than this are not used (logged; every text stays English).
inline constexpr std::size_t kMaxLanguagePathLength = 260;

// "<folder>/Language/<language>.ini". Empty (and logged) when the path
// would be too long or the name could leave the Language folder.
std::string LanguageFilePath(std::string_view folder, std::string_view language);

// The language file in use: the program folder with the settings'
// Language value (the installed file when the folder has none).
std::string GetLanguageFilePath();

// Nothing when `language` has a language file in `folder` or among the
// installed ones (English, the language the texts are written in, needs
// none); else what a language setting must be, naming the folders looked
// in: "a language with a file in <folder>/Language".
std::optional<std::string> MissingLanguageFile(std::string_view folder, std::string_view language);

// The "charset" of section "Info" of the language file, or kDefaultCharset.
std::string LanguageCharset();
std::string LanguageCharset(const std::string& language_file);

// CR -> "\r", LF -> "\n" (the four characters of a key) and back.
std::string EscapeLineBreaks(std::string_view text);
std::string UnescapeLineBreaks(std::string_view text);

// The translation of a given text (line breaks escaped for the lookup and
// restored in the result), or the text itself.
std::string TranslateText(std::string_view text);
std::string TranslateText(std::string_view text, const std::string& language_file);

// String resources: numbered English texts that the program registers at
// start-up (in place of a resource section).
void RegisterStringResource(unsigned id, std::string_view text);
// The English text of a resource; empty when there is none.
std::string LoadStringResource(unsigned id);
// The translated resource, cut to kMaxTextLength characters first.
std::string TranslateStringResource(unsigned id);
// The translated resource without the length bound.
std::string LoadTranslatedString(unsigned id);

// What TranslateWindow needs of a window of the toolkit in use.
class TranslatableWindow {
public:
    virtual ~TranslatableWindow() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual void Hide() = 0;
    // The direct children, in z-order.
    virtual std::vector<std::unique_ptr<TranslatableWindow>> Children() = 0;
};

// Translates the window's text and that of each direct child (not their
// children). A null window is ignored.
void TranslateWindow(TranslatableWindow* window);

// What TranslateMenu needs of a menu: items by position, each with a
// command id that identifies it for removal.
class TranslatableMenu {
public:
    virtual ~TranslatableMenu() = default;
    virtual int ItemCount() const = 0;
    // The item's text as the menu holds it (access-key "&" and tab-separated
    // shortcut included); empty for a separator.
    virtual std::string ItemText(int position) const = 0;
    virtual void SetItemText(int position, const std::string& text) = 0;
    virtual int ItemCommand(int position) const = 0;
    // The submenu the item opens, or null.
    virtual std::unique_ptr<TranslatableMenu> Submenu(int position) = 0;
    virtual void RemoveCommand(int command) = 0;
};

// Translates every item of the menu and of its submenus (items are looked
// up as they are, without escaping). Items marked "_INVISIBLE_" are
// removed once the walk of their menu is done, so positions stay valid
// during the walk; there is no limit on their number.
void TranslateMenu(TranslatableMenu* menu);

}  // namespace quorvex
