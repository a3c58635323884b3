// The Apache configuration of one web directory: an Alias and a
// <Directory> block, written to its own file. Names, folders and default
// documents are checked here before any of them reaches a configuration
// file, so that no caller can add a directive of its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::vdir {

// A directory name is used as a URL path and in a file name.
inline constexpr std::size_t kMaxDirectoryNameLength = 259;

// Letters, digits, '.', '_' and '-', not starting with '.'; also the rule
// for default documents.
bool IsValidDirectoryName(std::string_view name);

// The folder without trailing '/', or nothing: it must be absolute, not "/"
// itself, and hold no '"', '\\', '$' (Apache expands "${...}") and no
// control character.
std::optional<std::string> CleanFolderPath(std::string_view folder);

// "quorvex-<name>.conf".
std::string SnippetFileName(std::string_view name);

struct WebDirectory {
    std::string name;      // URL path "/<name>"
    std::string folder;    // cleaned, absolute
    std::string document;  // default document; may be empty
    bool script = false;   // PHP pages run; otherwise plain files only
};

// The configuration text. Script directories allow PHP's FFI (the pages
// load the web-mail component through it) and leave multipart bodies
// unread by PHP so that the component reads the upload itself; they need
// mod_php, and a web server without it refuses them. Plain
// directories run nothing, list nothing and send every file with
// "X-Content-Type-Options: nosniff" and "Content-Security-Policy: sandbox",
// so a stored message's HTML or attachment cannot act as a page of the
// site.
std::string FormatApacheSnippet(const WebDirectory& directory);

}  // namespace quorvex::vdir
