// QuorvexCOM.ini keys and their defaults.
#include "webcom/module/ComConfig.h"

#include "common/ConfigWriter.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Translation.h"

namespace quorvex::webcom {

std::string ConfigPathFromLibrary(const std::string& library_path) {
    const std::size_t slash = library_path.rfind('/');
    const std::size_t dot = library_path.rfind('.');
    // Only a dot in the file name starts an extension.
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return library_path + ".ini";
    return library_path.substr(0, dot + 1) + "ini";
}

std::string FixedConfigPath(const std::string& library_folder) { return JoinPath(library_folder, "QuorvexCOM.ini"); }

ComConfig::ComConfig(const std::string& path, std::string library_folder)
    : doc_(ProfileFile(path).Load()), library_folder_(std::move(library_folder)) {}

ComConfig ComConfig::Of(const LibraryLocation& library) {
    return ComConfig(ConfigPathFromLibrary(library.path), library.folder);
}

ComConfig ComConfig::FixedOf(const LibraryLocation& library) {
    return ComConfig(FixedConfigPath(library.folder), library.folder);
}

std::string ComConfig::Text(const char* section, const char* key, const std::string& default_value) const {
    return ReadConfigText(*doc_, section, key, default_value, kConfigTextBuffer);
}

ServerAddress ComConfig::AdminServer() const {
    return {Text("system", "AdminServerAddr", kDefaultServerAddress), ReadConfigInt(*doc_, "Port", "Admin", kDefaultAdminPort)};
}

ServerAddress ComConfig::Pop3Server() const {
    return {Text("system", "POP3ServerAddr", kDefaultServerAddress), ReadConfigInt(*doc_, "Port", "POP3", kDefaultPop3Port)};
}

ServerAddress ComConfig::SmtpServer() const {
    return {Text("system", "SMTPServerAddr", kDefaultServerAddress), ReadConfigInt(*doc_, "Port", "SMTP", kDefaultSmtpPort)};
}

std::string ComConfig::Pop3WorkPath() const { return Text("system", "POP3WorkPath", JoinPath(library_folder_, "maildata")); }

std::string ComConfig::WebWorkPath() const { return Text("system", "WebWorkPath", JoinPath(library_folder_, "websmtp")); }

std::string ComConfig::Domain() const { return Text("system", "Dominame", ""); }

std::string ComponentLanguage(const std::string& library_folder) {
    std::string language = ReadProfileString(FixedConfigPath(library_folder), "system", "Language", "");
    if (language.empty()) language = ReadProfileString(JoinPath(library_folder, "config.ini"), "System", "Language", "");
    return language;
}

std::string ComponentLanguageFile(const std::string& library_folder) {
    return LanguageFilePath(library_folder, ComponentLanguage(library_folder));
}

std::string ComponentCharset(const std::string& library_folder) {
    return LanguageCharset(ComponentLanguageFile(library_folder));
}

}  // namespace quorvex::webcom
