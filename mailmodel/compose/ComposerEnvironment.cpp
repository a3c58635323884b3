// The server's and the web-mail component's composer environments.
#include "mailmodel/compose/ComposerEnvironment.h"

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"
#include "mailmodel/AppServices.h"

namespace quorvex::compose {
namespace {

constexpr std::size_t kMaxCharset = 1023;

std::string LanguageFile(const std::string& folder, const std::string& language) {
    return JoinPath(folder, "Language", language + ".ini");
}

}  // namespace

std::string ReadLanguageCharset(const std::string& languageFilePath) {
    std::string charset = ReadProfileString(languageFilePath, "Info", "charset", "iso-8859-1");
    if (charset.size() > kMaxCharset) charset.resize(kMaxCharset);
    return charset;
}

ComposerEnvironment ComposerEnvironment::Server() {
    ComposerEnvironment env;
    env.charset = [] { return ReadLanguageCharset(LanguageFile(ProgramFolder(), Settings()->Language)); };
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
