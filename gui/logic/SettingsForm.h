// The settings window's one transaction. When the window opens, the
// settings are read fresh from config.ini and EmailFilter.ini into a
// working copy, together with both domain tables (the single domain's
// record and the list of several domains). Every page and option dialog
// edits that copy (or a copy of it, dropped on Cancel); the servers keep
// reading the published record and never see a half-edited one. Only
// Commit, the settings window's OK, writes: the service switch first,
// then config.ini in one atomic rewrite (and only when something changed),
// EmailFilter.ini and QuorvexCOM.ini (whose ports follow the listeners,
// not the settings), and then the new record is published for every later
// connection.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "app/WebSetup.h"
#include "common/DomainTable.h"
#include "common/ServerSettings.h"
#include "gui/logic/SettingsSource.h"

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class ServiceSwitch;

// What the domain input dialog returns.
struct DomainInput {
    std::string name;
    int max_accounts = -1;
    int max_space = -1;
    int default_size = 20;
};

// Why a domain operation changed nothing.
enum class DomainRefusal { kNone, kEmptyName, kDuplicate, kTableFull, kNoSelection };

// What OK did to the service.
enum class ServiceChange { kNone, kInstall, kRemove };

// config.ini as it was seen: a change by another program (the account
// server edits domains, "-update", an editor) shows as another revision.
struct FileRevision {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    long long modified_ns = 0;
    bool operator==(const FileRevision&) const = default;
};
FileRevision RevisionOf(const std::string& path);

struct CommitResult {
    ServiceChange service = ServiceChange::kNone;
    // Why the service switch failed; "RunAsService" kept its old value.
    std::optional<std::string> service_error;
    // Refusals(): nothing was switched or written.
    std::vector<std::string> refused;
    bool written = false;      // config.ini was rewritten
    bool save_failed = false;  // it should have been and was not
    // A port differs from the one in use: it takes effect at the next start.
    bool ports_wait_for_start = false;
    // The switch to the service succeeded: the program ends now and the
    // service takes over.
    bool quit_for_service() const { return service == ServiceChange::kInstall && !service_error; }
};

class SettingsForm {
public:
    // Reads the files of the program folder of the record in force;
    // `source` (which must outlive the form) puts the saved record in force.
    explicit SettingsForm(SettingsSource& source);

    CServerSettings& work() { return work_; }
    const CServerSettings& work() const { return work_; }
    const CServerSettings& original() const { return original_; }
    const DomainTable& single_table() const { return single_; }
    const DomainTable& multi_table() const { return multi_; }

    // The domain operations of the window, on the working tables. A name is
    // trimmed and lower-cased; a name another line holds already, a 501st
    // domain, an empty name or no selection change nothing.
    DomainRefusal AddDomain(const DomainInput& input);
    DomainRefusal EditDomain(int index, const DomainInput& input);
    DomainRefusal RemoveDomain(int index);
    DomainRefusal EditSingleDomain(const DomainInput& input);
    // The single domain's record as the input dialog shows it.
    DomainInput SingleDomainInput() const;
    DomainInput MultiDomainInput(int index) const;

    // Switching to several domains keeps the one domain served so far: it
    // is added to the list (with its limits) unless the list holds it or
    // is full. True when it was added.
    bool KeepCurrentDomain();
    // The accounts that the domain mode of the working copy leaves without
    // their mail and logins, since a name with several domains is
    // user@domain and with one holds no "@": the names without "@" when
    // switching to several domains, those with one when switching back.
    // Empty while the mode stays.
    std::vector<std::string> AccountsOutsideNewDomainMode(const AccountList& accounts) const;

    // Why OK cannot save: the values of config.ini as read that cannot be
    // taken (it was changed by hand meanwhile), then those of the working
    // copy (a number outside its range, an empty domain name, two servers
    // on one port); one sentence each. Empty when OK may save.
    std::vector<std::string> Refusals() const;

    ServiceChange PendingServiceChange() const;
    // True when the working copy differs from the files as read.
    bool Changed() const;
    // True when config.ini is not the file that was read.
    bool ChangedOnDisk() const;
    // Reads the files again (after ChangedOnDisk): every value, the domain
    // list's lines and the single domain's limits are the file's current
    // ones unless the user changed them in the working copy (those edits
    // stay, a domain the user removed stays removed).
    void ReloadFromDisk();

    // The OK. Unless there are Refusals(), runs the service switch (when
    // asked for), writes what changed and puts the new record in force. QuorvexCOM.ini keeps the ports
    // in use (`in_use`; 0: as the file has it) until the listeners start
    // on the new ones.
    CommitResult Commit(ServiceSwitch& service, const app::ComponentPorts& in_use = {});

private:
    void Read();

    SettingsSource& source_;
    CServerSettings original_;
    CServerSettings work_;
    DomainTable single_;
    DomainTable multi_;
    DomainTable single_original_;
    DomainTable multi_original_;
    FileRevision revision_;
};

}  // namespace quorvex::gui
