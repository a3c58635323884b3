// What a test changes of the process-wide state, put back when it ends:
// the published settings, the program folder and the profile cache that
// follows it, and the host the settings loader asks. Declared first in a fixture (or at the top of a test), so it
// is restored after everything else of the test has gone.
#pragma once

#include <memory>
#include <string>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingsHost.h"

namespace quorvex::testing {

class ScopedProcessState {
public:
    ScopedProcessState() : settings_(Settings()), folder_(ProgramFolder()), host_(CurrentSettingsHost()) {}
    ~ScopedProcessState() {
        SetSettingsHost(host_);
        SetProgramFolder(folder_);
        ProfileFile::ClearCache();
        PublishSettings(settings_);
    }
    ScopedProcessState(const ScopedProcessState&) = delete;
    ScopedProcessState& operator=(const ScopedProcessState&) = delete;

private:
    std::shared_ptr<const CServerSettings> settings_;
    std::string folder_;
    SettingsHost host_;
};

}  // namespace quorvex::testing
