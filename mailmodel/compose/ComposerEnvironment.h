// What the composer asks of its surroundings: the charset of the interface
// language and the primary mail domain. The server and the web-mail
// component differ here (where the language file is found, whether the
// text-template header is written), so each passes its own environment.
#pragma once

#include <functional>
#include <string>

namespace quorvex::compose {

struct ComposerEnvironment {
    // [Info] charset of the language file, "iso-8859-1" when absent.
    std::function<std::string()> charset;
    std::function<std::string()> domainName;
    // The web-mail build writes no text-template header.
    bool writesTemplateHeader = true;

    // The server: the language file of the settings' Language in the
    // program folder's "Language" folder.
    static ComposerEnvironment Server();
    // The web-mail component: the language file its translation source
    // names (SetLanguageFileSource: the component's own folder and language).
    static ComposerEnvironment WebMail();
};

// [Info] charset of a language file (at most 1023 characters).
std::string ReadLanguageCharset(const std::string& languageFilePath);

}  // namespace quorvex::compose
