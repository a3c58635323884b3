// The server's and the web-mail component's composer environments.
#include "mailmodel/compose/ComposerEnvironment.h"

#include "common/Translation.h"
#include "mailmodel/AppServices.h"

namespace quorvex::compose {

ComposerEnvironment ComposerEnvironment::Server() {
    ComposerEnvironment env;
    env.charset = [] { return LanguageCharset(); };
    env.domainName = [] { return GetDomainName(); };
    return env;
}

ComposerEnvironment ComposerEnvironment::WebMail(std::string languageFile) {
    ComposerEnvironment env;
    env.charset = [file = std::move(languageFile)] { return LanguageCharset(file); };
    env.domainName = [] { return std::string(); };
    env.writesTemplateHeader = false;
    env.flavour = mime::MimeFlavour::WebMail;
    return env;
}

}  // namespace quorvex::compose
