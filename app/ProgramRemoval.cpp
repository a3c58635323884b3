#include "app/ProgramRemoval.h"

#include <unistd.h>

#include "app/FirstSetup.h"
#include "app/InstanceMark.h"
#include "app/WebDirectories.h"
#include "common/ComRegistration.h"
#include "common/DesktopEntry.h"
#include "common/ErrorLog.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SystemLocations.h"

namespace quorvex::app {

namespace {

constexpr std::chrono::seconds kCommandAnswerLimit{5};

void RemoveWebDirectories(const std::string& folder) {
    auto installer = WebDirectoryInstaller::Load(folder);
    if (!installer) return;
    installer->Remove("mail");
    installer->Remove("maildata");
}

}  // namespace

bool AskRunningInstanceToStop(const std::string& program_folder) {
    if (!InstanceRunning(program_folder)) return true;
    SendInstanceCommand(program_folder, kCommandStop, kCommandAnswerLimit);
    if (WaitForInstanceEnd(program_folder, kInstanceStopLimit)) return true;
    QUORVEX_ERROR_LOG("the running instance did not stop within its time limit");
    return false;
}

int StopRunningInstance(const ServiceOptions& service) {
    AskRunningInstanceToStop(service.program_folder);
    CNtService(service).Uninstall();
    ProfileFile(Settings()->ConfigIni()).WriteString("system", "RunAsService", "0");
    return 1;
}

int UninstallProgram(const ServiceOptions& service) {
    const std::string& folder = service.program_folder;
    AskRunningInstanceToStop(folder);
    UnregisterComServer(JoinPath(folder, "QuorvexCOM.so"));
    CNtService(service).Uninstall();
    WriteAutostartEntry(nullptr);
    const std::string desktop = CurrentSystemLocations().desktop_folder;
    if (!desktop.empty()) {
        const std::string shortcut = JoinPath(desktop, DesktopEntryFileName());
        ::unlink(shortcut.c_str());
    }
    ProfileFile(Settings()->ConfigIni()).Edit([](IniDocument& doc) {
        return doc.Set("system", "setup", "0") && doc.Set("system", "RunAsService", "0");
    });
    RemoveWebDirectories(folder);
    return 1;
}

}  // namespace quorvex::app
