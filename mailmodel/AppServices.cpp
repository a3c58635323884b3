// The domain name and the welcome message file.
#include "mailmodel/AppServices.h"

#include <ctime>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"

namespace quorvex {

namespace {

std::string ConfigPath() { return JoinPath(ProgramFolder(), "config.ini"); }

std::string RfcDateNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &tm);
    return buf;
}

}  // namespace

std::string GetDomainName() { return Settings()->Dominame; }

std::string EnsureWelcomeMailFile() {
    const std::string path = JoinPath(ProgramFolder(), "Welcome.inbox");
    if (FileExists(path)) return path;
    const std::string domain = GetDomainName();
    const std::string sender = ReadProfileString(ConfigPath(), "Admin", "Sender", "admin@" + domain);
    std::string text;
    text.append("From: ").append(sender).append("\r\n");
    text.append("To: newuser@").append(domain).append("\r\n");
    text.append("Subject: ").append(TranslateText("Welcome to QuorvexServer")).append("\r\n");
    text.append("Date: ").append(RfcDateNow()).append("\r\n");
    text.append("MIME-Version: 1.0\r\n");
    text.append("Content-Type: text/plain; charset=\"us-ascii\"\r\n");
    text.append("\r\n");
    text.append(TranslateText("QuorvexServer mail server")).append("\r\n");
    text.append(TranslateText("Made by the Quorvex project")).append("\r\n");
    text.append(TranslateText("Support:")).append(" postmaster@").append(domain).append("\r\n");
    text.append(TranslateText("Web mail:")).append(" http://").append(domain).append("/mail/\r\n");
    return AtomicWriteFile(path, text) ? path : std::string();
}

}  // namespace quorvex
