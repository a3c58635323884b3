// Files and folders for the web server and the two web directories. Modes
// and the web server's group are set after each write, so a file that
// existed before gets them too.
#include "app/WebSetup.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/WebDirectories.h"
#include "app/WebMailLanguage.h"
#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/WebServerShare.h"
#include "mailmodel/AppServices.h"

namespace quorvex::app {

namespace {

// Deletes the folder with everything in it and makes it anew for the web
// server; an old folder that cannot be removed is kept and reused. False,
// with a sentence on why, when the web server cannot use it.
bool RecreateWorkFolder(const std::string& path, std::string& reason) {
    DeleteFolderTree(path);
    if (!CreateFolderWithFullAccess(path)) {
        QUORVEX_ERROR_LOG("cannot create the web folder " + path);
        reason = "The web folder " + path + " cannot be created.";
        return false;
    }
    return ShareWithWebServer(path, kWebWorkFolderMode, &reason);
}

}  // namespace

bool WriteWebComponentConfig() {
    const std::string folder = ProgramFolder();
    const auto settings = Settings();
    const std::string path = JoinPath(folder, "QuorvexCOM.ini");
    const bool written = ProfileFile(path).Edit([&](IniDocument& doc) {
        return doc.Set("system", "SMTPServerAddr", "127.0.0.1") && doc.Set("system", "POP3ServerAddr", "127.0.0.1") &&
               doc.Set("system", "AdminServerAddr", "127.0.0.1") &&
               doc.Set("system", "WebWorkPath", JoinPath(folder, "websmtp")) &&
               doc.Set("system", "POP3WorkPath", JoinPath(folder, "maildata")) &&
               doc.Set("system", "Dominame", GetDomainName()) &&
               doc.Set("system", "Language", SafeLanguageName(settings->Language)) &&
               doc.Set("Port", "POP3", std::to_string(settings->POP3Port)) &&
               doc.Set("Port", "SMTP", std::to_string(settings->SMTPPort)) &&
               doc.Set("Port", "Admin", std::to_string(settings->AdminPort));
    });
    if (!written) {
        QUORVEX_ERROR_LOG("cannot write " + path);
        return false;
    }
    ShareWithWebServer(path, kWebReadFileMode);
    // The program folder is not the web server's to write in: its log file
    // is made here, and the component only appends to it.
    const std::string log = JoinPath(folder, "comlog.txt");
    if (!FileExists(log) && !AtomicWriteFile(log, "", kWebWriteFileMode)) QUORVEX_ERROR_LOG("cannot create " + log);
    if (FileExists(log)) ShareWithWebServer(log, kWebWriteFileMode);
    return true;
}

bool WriteWebComponentPorts(const ComponentPorts& ports) {
    const std::string path = JoinPath(ProgramFolder(), "QuorvexCOM.ini");
    if (!FileExists(path)) return true;
    const std::pair<const char*, int> keys[] = {{"SMTP", ports.smtp}, {"POP3", ports.pop3}, {"Admin", ports.admin}};
    bool current = true;
    for (const auto& [key, port] : keys) {
        if (port != 0 && ReadProfileString(path, "Port", key) != std::to_string(port)) current = false;
    }
    if (current) return true;
    const bool written = ProfileFile(path).Edit([&](IniDocument& doc) {
        bool all = true;
        for (const auto& [key, port] : keys) {
            if (port != 0) all &= doc.Set("Port", key, std::to_string(port));
        }
        return all;
    });
    if (!written) {
        QUORVEX_ERROR_LOG("cannot write the ports into " + path);
        return false;
    }
    ShareWithWebServer(path, kWebReadFileMode);
    return true;
}

bool WriteWebLanguage(const CServerSettings& settings) {
    const std::string language = SafeLanguageName(settings.Language);
    bool current = true;
    const std::string com_ini = JoinPath(settings.Folder(), "QuorvexCOM.ini");
    if (FileExists(com_ini) && ReadProfileString(com_ini, "system", "Language") != language) {
        current = ProfileFile(com_ini).Edit([&](IniDocument& doc) { return doc.Set("system", "Language", language); });
        if (!current) QUORVEX_ERROR_LOG("cannot write the language into " + com_ini);
    }
    const std::string pages = JoinPath(settings.Folder(), "WebMail");
    std::string line;
    if (FolderExists(pages) &&
        !(ReadWholeFile(JoinPath(pages, "Language.txt"), line) && line == WebMailLanguageLine(language))) {
        if (WriteWebMailLanguageFile(settings.Folder(), language)) {
            ShareWithWebServer(JoinPath(pages, "Language.txt"), kWebReadFileMode);
        } else {
            QUORVEX_ERROR_LOG("cannot write WebMail/Language.txt in " + settings.Folder());
            current = false;
        }
    }
    return current;
}

bool WriteWebMailPagesFolder() {
    const std::string folder = ProgramFolder();
    if (!WriteWebMailLanguageFile(folder, Settings()->Language)) {
        QUORVEX_ERROR_LOG("cannot write WebMail/Language.txt in " + folder);
        return false;
    }
    const std::string pages = JoinPath(folder, "WebMail");
    ShareWithWebServer(pages, kWebPagesFolderMode);
    ShareWithWebServer(JoinPath(pages, "Language.txt"), kWebReadFileMode);
    return true;
}

void OpenProgramFolderToWebServer() {
    const std::string folder = ProgramFolder();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) != 0) return;
    ShareWithWebServer(folder, (st.st_mode & 07777) | S_IXGRP);
}

bool WebMailPublished() {
    const auto installer = WebDirectoryInstaller::Load(ProgramFolder());
    return installer && installer->Published("mail");
}

int SetupWebMailDirectory(std::string* reason) {
    const std::string folder = ProgramFolder();
    const std::string data = JoinPath(folder, "maildata");
    // Every reason is told: a folder the web server cannot use and a
    // missing installer are two things to put right.
    std::string why;  // of the first folder the web server cannot use
    for (const std::string& work : {data, JoinPath(folder, "websmtp")}) {
        std::string work_why;
        if (!RecreateWorkFolder(work, work_why) && why.empty()) why = work_why;
    }
    std::string installer_why;
    auto installer = WebDirectoryInstaller::Load(folder, &installer_why);
    bool published = false;
    if (!installer) {
        QUORVEX_ERROR_LOG(installer_why);
    } else {
        // The pages are PHP here; the work folder's default document names
        // no file, so a folder URL never shows anything.
        published = installer->Publish("mail", JoinPath(folder, "WebMail"), "index.php", true) &&
                    installer->Publish("maildata", data, "xxx.xxx", false);
        if (!published) installer_why = installer->LastError();
    }
    if (why.empty() && published) return 1;
    if (reason != nullptr) *reason = why + (why.empty() || installer_why.empty() ? "" : " ") + installer_why;
    return 0;
}

}  // namespace quorvex::app
