// Reading "QuorvexCOM.ini", the component's configuration, which the mail
// server program writes and the component only reads: the addresses and
// ports of the three servers, the two work roots and the mail domain. Every
// method that needs a value reads the file anew (through the profile
// layer's change-checked cache), so a new configuration takes effect at
// the next call.
#pragma once

#include <memory>
#include <string>

#include "common/IniDocument.h"
#include "webcom/module/ComModule.h"

namespace quorvex::webcom {

// Texts are read the way a 260-byte buffer holds them.
inline constexpr std::size_t kConfigTextBuffer = 260;

inline constexpr int kDefaultAdminPort = 8011;
inline constexpr int kDefaultPop3Port = 110;
inline constexpr int kDefaultSmtpPort = 25;
inline constexpr const char* kDefaultServerAddress = "127.0.0.1";

// The configuration file named after the library: its file name with the
// extension replaced by "ini" ("QuorvexCOM.so" -> "QuorvexCOM.ini"; a name
// without extension gets ".ini").
std::string ConfigPathFromLibrary(const std::string& library_path);
// "QuorvexCOM.ini" in the library folder, whatever the library is called.
std::string FixedConfigPath(const std::string& library_folder);

struct ServerAddress {
    std::string host;
    int port = 0;
};

class ComConfig {
public:
    // `library_folder` gives the default work roots.
    ComConfig(const std::string& path, std::string library_folder);

    // The configuration the classes read: named after the library.
    static ComConfig Of(const LibraryLocation& library);
    // The fixed "QuorvexCOM.ini" beside the library.
    static ComConfig FixedOf(const LibraryLocation& library);

    ServerAddress AdminServer() const;  // [system] AdminServerAddr, [Port] Admin
    ServerAddress Pop3Server() const;   // [system] POP3ServerAddr, [Port] POP3
    ServerAddress SmtpServer() const;   // [system] SMTPServerAddr, [Port] SMTP
    // [system] POP3WorkPath, default "<library folder>/maildata".
    std::string Pop3WorkPath() const;
    // [system] WebWorkPath, default "<library folder>/websmtp".
    std::string WebWorkPath() const;
    // [system] Dominame, default empty.
    std::string Domain() const;

private:
    std::string Text(const char* section, const char* key, const std::string& default_value) const;

    std::shared_ptr<const IniDocument> doc_;
    std::string library_folder_;
};

// The interface language of the component: [system] Language of the fixed
// QuorvexCOM.ini (which set-up writes so that the web server need not read
// config.ini), else [System] Language of config.ini in the same folder.
std::string ComponentLanguage(const std::string& library_folder);
// The language file of that language, which the component finds in its
// own folder, and the charset it names (the charset of undeclared text).
std::string ComponentLanguageFile(const std::string& library_folder);
std::string ComponentCharset(const std::string& library_folder);

}  // namespace quorvex::webcom
