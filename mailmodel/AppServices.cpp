// The domain name and the welcome message file.
#include "mailmodel/AppServices.h"

#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "mailmodel/WelcomeMail.h"

namespace quorvex {

std::string GetDomainName() { return Settings()->Dominame; }

std::string EnsureWelcomeMailFile() {
    const std::string path = JoinPath(ProgramFolder(), kWelcomeMailFileName);
    if (FileExists(path)) return path;
    return WriteDefaultWelcomeMailFile() ? path : std::string();
}

}  // namespace quorvex
