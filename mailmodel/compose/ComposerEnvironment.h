// What the composer asks of its surroundings: the charset of the interface
// language, the primary mail domain and the MIME flavour. The server and
// the web-mail component differ here (where the language file is found,
// whether the text-template header is written, the made-up boundary), so
// each passes its own environment.
#pragma once

#include <functional>
#include <string>

#include "mailmodel/mime/MimeFlavour.h"

namespace quorvex::compose {

struct ComposerEnvironment {
    // [Info] charset of the language file, "iso-8859-1" when absent; the
    // charset of composed text where every character has a place in it
    // (MailCharset).
    std::function<std::string()> charset;
    std::function<std::string()> domainName;
    // The web-mail build writes no text-template header.
    bool writesTemplateHeader = true;
    mime::MimeFlavour flavour = mime::MimeFlavour::Server;

    // The server: the language file of the settings' Language in the
    // program folder's "Language" folder, else the installed one.
    static ComposerEnvironment Server();
    // The web-mail component: the charset of `languageFile` (the
    // component's own folder and language) and its MIME flavour. It writes
    // no text-template header, the one place that uses the domain.
    static ComposerEnvironment WebMail(std::string languageFile);
};

}  // namespace quorvex::compose
