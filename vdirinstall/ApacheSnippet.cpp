// Validation and text of the Apache configuration of one web directory.
#include "vdirinstall/ApacheSnippet.h"

#include "common/AsciiCase.h"

namespace quorvex::vdir {

namespace {

bool IsNameCharacter(char c) {
    return IsAsciiAlnum(c) || c == '.' || c == '_' || c == '-';
}

}  // namespace

bool IsValidDirectoryName(std::string_view name) {
    if (name.empty() || name.size() > kMaxDirectoryNameLength || name.front() == '.') return false;
    for (const char c : name)
        if (!IsNameCharacter(c)) return false;
    return true;
}

std::optional<std::string> CleanFolderPath(std::string_view folder) {
    if (folder.empty() || folder.front() != '/') return std::nullopt;
    for (const char c : folder) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\\' || c == '$') return std::nullopt;
    }
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    if (folder == "/") return std::nullopt;
    return std::string(folder);
}

std::string SnippetFileName(std::string_view name) { return "quorvex-" + std::string(name) + ".conf"; }

std::string FormatApacheSnippet(const WebDirectory& directory) {
    const std::string folder = "\"" + directory.folder + "\"";
    std::string text;
    text += "# Web directory \"/" + directory.name + "\" of QuorvexServer, written by its set-up.\n";
    text += "# It is replaced or removed by the next set-up; edit the program's settings instead.\n";
    text += "Alias /" + directory.name + " " + folder + "\n";
    text += "<Directory " + folder + ">\n";
    text += "    Options None\n";
    text += "    AllowOverride None\n";
    text += "    Require all granted\n";
    if (!directory.document.empty()) text += "    DirectoryIndex " + directory.document + "\n";
    if (directory.script) {
        // Not wrapped in <IfModule>: a web server without PHP must refuse
        // this file (its check names the module), never serve the pages as
        // their source.
        text += "    php_admin_value ffi.enable 1\n";
        text += "    <If \"%{HTTP:Content-Type} =~ m#^multipart/form-data#i\">\n";
        text += "        php_admin_flag enable_post_data_reading off\n";
        text += "    </If>\n";
    } else {
        text += "    <IfModule php_module>\n";
        text += "        php_admin_flag engine off\n";
        text += "    </IfModule>\n";
        text += "    <FilesMatch \".\">\n";
        text += "        SetHandler None\n";
        text += "    </FilesMatch>\n";
        text += "    Header always set X-Content-Type-Options \"nosniff\"\n";
        text += "    Header always set Content-Security-Policy \"sandbox\"\n";
    }
    text += "</Directory>\n";
    return text;
}

}  // namespace quorvex::vdir
