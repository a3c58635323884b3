#include "common/WebServerShare.h"

#include <sys/stat.h>

#include "common/ErrorLog.h"
#include "common/FolderTree.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"

namespace quorvex {

std::string WebServerGroup() {
    return ReadProfileString(Settings()->ConfigIni(), "WebMail", "Group", kDefaultWebGroup);
}

bool ShareWithWebServer(const std::string& path, unsigned mode, std::string* reason) {
    const std::string group = WebServerGroup();
    std::string why;
    if (ShareWithGroup(path, group, mode, &why)) return true;
    QUORVEX_ERROR_LOG("cannot give " + path + " to the web server's group ([WebMail] Group): " + why);
    ::chmod(path.c_str(), static_cast<mode_t>(mode) & 07770);
    if (reason != nullptr) *reason = std::move(why);
    return false;
}

}  // namespace quorvex
