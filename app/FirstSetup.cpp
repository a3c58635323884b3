// The steps of first-run set-up, in the order the program has always taken
// them; each failure is logged (two of them also shown) and set-up goes on,
// so that one missing piece never leaves the rest undone.
#include "app/FirstSetup.h"

#include <sys/random.h>
#include <unistd.h>

#include <filesystem>

#include "app/ProgramMessages.h"
#include "app/WebSetup.h"
#include "common/AtomicFile.h"
#include "common/ComRegistration.h"
#include "common/CommandRunner.h"
#include "common/DesktopEntry.h"
#include "common/ErrorLog.h"
#include "common/HostInfo.h"
#include "common/PasswordDigest.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/WelcomeMail.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/provision/AccountProvision.h"
#include "servers/address/AddressRules.h"

namespace quorvex::app {

namespace {

constexpr std::string_view kAdminAccount = "Admin";
constexpr std::string_view kLocalAddress = "127.0.0.1";
constexpr int kProgressFirst = 1;
constexpr int kProgressLast = 8;

class NoProgress : public SetupProgress {
public:
    void Open(int, int) override {}
    void Step() override {}
    void Close() override {}
};

std::string ConfigPath() { return Settings()->ConfigIni(); }

// A failed step: its message as it has always read, then the reason on a
// line of its own.
void ShowFailure(const std::string& message, const std::string& reason) {
    ShowProgramMessage(message);
    if (!reason.empty()) ShowProgramMessage(reason);
}

void MakeProgramFolders(SetupProgress& progress) {
    const std::string folder = ProgramFolder();
    for (const char* name : {"mail", "smtp"})
        if (!MakeFolders(JoinPath(folder, name))) QUORVEX_ERROR_LOG("cannot create the folder " + std::string(name));
    progress.Step();
    if (!MakeFolders(JoinPath(folder, "undelivered"))) QUORVEX_ERROR_LOG("cannot create the folder undelivered");
    progress.Step();
    progress.Step();
}

// 127.0.0.1 joins the web-mail front ends; addresses the administrator
// listed there stay.
void AllowLocalWebMail() {
    const std::string current = Settings()->WebMailIP;
    if (IsWebMailAddress(kLocalAddress, current)) return;
    const std::string list = current.empty() ? std::string(kLocalAddress) : std::string(kLocalAddress) + ";" + current;
    if (!ProfileFile(ConfigPath()).WriteString("WebMail", "IP", list))
        QUORVEX_ERROR_LOG("cannot write [WebMail] IP of config.ini");
}

std::string RandomPassword() {
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // 248 is the largest multiple of the alphabet's 62 letters: bytes above
    // it are drawn again, so every letter is equally likely.
    constexpr unsigned kUnbiasedLimit = 248;
    std::string password;
    unsigned char bytes[64];
    while (password.size() < kAdminPasswordLength) {
        if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
        for (const unsigned char byte : bytes)
            if (byte < kUnbiasedLimit && password.size() < kAdminPasswordLength)
                password.push_back(kAlphabet[byte % kAlphabet.size()]);
    }
    return password;
}

// "Admin" with a random password: its digest is stored, the password
// itself goes once into an owner-only file, and the log names the file.
void CreateDefaultAdministrator() {
    if (AccountExists(kAdminAccount) != AccountPresence::kMissing) return;
    const std::string password = RandomPassword();
    const std::string path = JoinPath(ProgramFolder(), kAdminPasswordFileName);
    ::unlink(path.c_str());  // a new file, so owner-only whatever the old one was
    if (password.empty() || !AtomicWriteFile(path, password + "\n", 0600)) {
        QUORVEX_ERROR_LOG("cannot write " + path + "; the administrator account \"Admin\" was not created");
        return;
    }
    AccountRecord record;
    record.Name = kAdminAccount;
    record.Password = HashAccountPassword(password, 1);
    record.UserName = kAdminAccount;
    record.Comment = "Administrator";
    record.Volume = 20;
    record.Max = 1;
    record.Disabled = 0;
    record.TimeStamp = AccountTimeStampNow();
    record.Permission = 2;
    if (!SaveAccount(kAdminAccount, record)) {
        ::unlink(path.c_str());
        QUORVEX_ERROR_LOG("the administrator account \"Admin\" could not be created");
        return;
    }
    ShowProgramMessage("The administrator account \"Admin\" was created; its password is in " + path + ".");
}

void MarkSetupDone(bool desktop_user) {
    const bool written = ProfileFile(ConfigPath()).Edit([&](IniDocument& doc) {
        bool ok = doc.Set("system", "setup", "1") && doc.Set("system", "Version", kProgramVersion);
        if (desktop_user) ok = ok && doc.Set("system", "AutoRun", "1") && doc.Set("system", "RunAsService", "0");
        return ok;
    });
    if (!written) QUORVEX_ERROR_LOG("cannot mark the set-up as done in config.ini");
}

}  // namespace

std::string ProgramLauncherPath() {
    const std::string running = ExecutablePath();
    // Beside it (a build tree), or <prefix>/bin for <prefix>/libexec/quorvex.
    for (const std::string& launcher :
         {JoinPath(DirName(running), kProgramName),
          std::filesystem::path(JoinPath(DirName(running), "../../bin", kProgramName)).lexically_normal().string()}) {
        if (::access(launcher.c_str(), X_OK) == 0) return launcher;
    }
    std::string on_path = FindProgram(std::string(kProgramName));
    return on_path.empty() ? running : on_path;
}

bool FirstSetupDue() {
    const std::string config = ConfigPath();
    std::string stored = ReadProfileString(config, "system", "Version", "");
    stored.resize(std::min<std::size_t>(stored.size(), 1024));
    return std::string_view(kProgramVersion) > std::string_view(stored) ||
           ReadProfileInt(config, "system", "setup", 0) == 0;
}

void RunFirstSetup(const SetupOptions& options) {
    NoProgress no_progress;
    SetupProgress& progress = options.progress != nullptr ? *options.progress : no_progress;
    const std::string folder = ProgramFolder();

    // The ODBC data source of the program folder was registered at start-up,
    // before anything used the database.
    progress.Open(kProgressFirst, kProgressLast);
    MakeProgramFolders(progress);

    if (std::string reason; !RegisterComServer(JoinPath(folder, "QuorvexCOM.so"), &reason))
        ShowFailure(ProgramString(IDS_COM_REGISTRATION_FAILED), reason);
    progress.Step();

    OpenProgramFolderToWebServer();
    WriteWebComponentConfig();
    AllowLocalWebMail();
    progress.Step();

    if (std::string reason; !SetupWebMailDirectory(&reason))
        ShowFailure(ProgramString(IDS_WEB_DIRECTORY_FAILED), reason);
    WriteWebMailPagesFolder();
    progress.Step();

    if (options.desktop_user) {
        const std::string program = ProgramLauncherPath();
        if (CreateDesktopShortcut(program) != 0) QUORVEX_ERROR_LOG("cannot create the desktop entry");
        if (!WriteAutostartEntry(&program)) QUORVEX_ERROR_LOG("cannot create the autostart entry");
    }
    progress.Step();

    CreateDefaultAdministrator();
    progress.Step();

    MarkSetupDone(options.desktop_user);
    if (!WriteDefaultWelcomeMailFile()) QUORVEX_ERROR_LOG("cannot write the welcome message");
    progress.Close();
    // The servers start with what set-up wrote into config.ini.
    ReloadSettings();
}

}  // namespace quorvex::app
