#include "app/ProgramRemoval.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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
#include "common/TextHelpers.h"

namespace quorvex::app {

namespace {

constexpr std::chrono::seconds kCommandAnswerLimit{5};

// Removes a desktop entry the program wrote outside its folder, when it is
// there and starts the program on `folder`: another program folder's
// entry of the same name stays.
void RemoveEntry(const std::string& path, std::string_view what, const std::string& folder, UninstallReport& report) {
    if (path.empty() || !FileExists(path)) return;
    if (!DesktopEntryStartsFolder(path, folder)) {
        report.done.push_back("kept " + std::string(what) + " " + path + " (it starts another program folder)");
        return;
    }
    if (::unlink(path.c_str()) == 0) {
        report.done.push_back("removed " + std::string(what) + " " + path);
    } else {
        report.failed.push_back("could not remove " + std::string(what) + " " + path + ": " + std::strerror(errno) +
                                ".");
    }
}

void RemoveWebDirectories(const std::string& folder, UninstallReport& report) {
    auto installer = WebDirectoryInstaller::Load(folder);
    if (!installer) return;
    for (const char* name : {"mail", "maildata"}) {
        if (installer->Remove(name)) continue;
        const std::string reason = installer->LastError();
        report.failed.push_back("could not remove the web directory " + std::string(name) +
                                (reason.empty() ? std::string(".") : ": " + reason));
        return;
    }
    report.done.push_back("the web directories mail and maildata are not published any more");
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

UninstallReport UninstallProgram(const ServiceOptions& service) {
    UninstallReport report;
    const std::string& folder = service.program_folder;
    if (InstanceRunning(folder)) {
        if (AskRunningInstanceToStop(folder)) {
            report.done.push_back("stopped the running instance");
        } else {
            report.failed.push_back("the running instance did not stop within " +
                                    std::to_string(kInstanceStopLimit.count()) + " seconds.");
        }
    }
    const std::string component = JoinPath(folder, "QuorvexCOM.so");
    if (FileExists(component)) {
        if (std::string why; UnregisterComServer(component, &why)) {
            report.done.push_back("unregistered the web-mail component " + component);
        } else {
            report.failed.push_back("could not unregister the web-mail component: " + why);
        }
    }
    CNtService unit(service);
    const bool installed = FileExists(unit.UnitPath());
    if (!unit.Uninstall()) {
        report.failed.push_back("could not remove the service unit " + unit.UnitPath() + ".");
    } else if (installed) {
        report.done.push_back("removed the service unit " + unit.UnitPath());
    }
    const SystemLocations locations = CurrentSystemLocations();
    RemoveEntry(DesktopEntryPath(locations.autostart_folder), "the autostart entry", folder, report);
    RemoveEntry(DesktopEntryPath(locations.desktop_folder), "the desktop entry", folder, report);
    const bool marked = ProfileFile(Settings()->ConfigIni()).Edit([](IniDocument& doc) {
        return doc.Set("system", "setup", "0") && doc.Set("system", "RunAsService", "0");
    });
    if (marked) {
        report.done.push_back("marked the set-up as not done ([system] setup=0)");
    } else {
        report.failed.push_back("could not mark the set-up as not done in " + Settings()->ConfigIni() + ".");
    }
    RemoveWebDirectories(folder, report);
    return report;
}

std::string UninstallLine(const std::string& folder, const UninstallReport& report) {
    return "Uninstalled from " + folder + ": " +
           (report.done.empty() ? "nothing was removed" : JoinTexts(report.done, "; ")) + ". Mail and accounts stay.";
}

}  // namespace quorvex::app
