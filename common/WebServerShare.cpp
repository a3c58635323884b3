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

void ShareWithWebServer(const std::string& path, unsigned mode) {
    const std::string group = WebServerGroup();
    if (!ShareWithGroup(path, group, mode)) {
        QUORVEX_ERROR_LOG("cannot give " + path + " to the web server's group \"" + group +
                          "\" (does the group exist?)");
        ::chmod(path.c_str(), static_cast<mode_t>(mode) & 07770);
    }
}

}  // namespace quorvex
