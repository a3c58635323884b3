#include "gui/logic/SettingsForm.h"

#include <sys/stat.h>

#include "app/WebMailLanguage.h"
#include "app/WebSetup.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/account/AccountList.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/logic/SettingsRules.h"

namespace quorvex::gui {

namespace {

constexpr const char* kComIniName = "QuorvexCOM.ini";

DomainRecord MakeRecord(const std::string& name, const DomainInput& input) {
    DomainRecord record(input.default_size);
    record.Name = name.substr(0, kMaxDomainNameLength);
    record.MaxAccounts = input.max_accounts;
    record.MaxSpace = input.max_space;
    return record;
}

DomainInput MakeInput(const DomainRecord& record) {
    return DomainInput{record.Name, record.MaxAccounts, record.MaxSpace, record.MailboxDefaultSize};
}

// The working copy as OK saves it: the cleaned domain name, the single
// domain's record named after it, the table in force.
struct Finished {
    CServerSettings settings;
    DomainTable single;
};

Finished Finish(const CServerSettings& work, const DomainTable& single, const DomainTable& multi) {
    Finished out{work, single};
    out.settings.Dominame = CleanDominame(work.Dominame);
    DomainRecord record;
    if (out.single.Get(0, record)) {
        record.Name = out.settings.Dominame.substr(0, kMaxDomainNameLength);
        out.single.Set(0, record);
    }
    out.settings.Domains = out.settings.DomainNameType == DomainTable::kMultiDomain ? multi : out.single;
    return out;
}

// QuorvexCOM.ini follows the settings in the mail domain (none with several
// domains: the pages then take the domain from the address) and the
// language; its ports stay those the listeners use. A file set-up never
// made is made as set-up makes it, readable by the web server.
void WriteComponentConfig(const CServerSettings& settings, bool existed, const app::ComponentPorts& in_use) {
    if (!existed) app::WriteWebComponentConfig();
    app::WriteWebComponentPorts(in_use);
    const std::string path = JoinPath(settings.Folder(), kComIniName);
    const bool written = ProfileFile(path).Edit([&](IniDocument& doc) {
        const bool multi = settings.DomainNameType == DomainTable::kMultiDomain;
        return doc.Set("system", "Dominame", multi ? std::string() : settings.Dominame) &&
               doc.Set("system", "Language", app::SafeLanguageName(settings.Language));
    });
    if (!written) QUORVEX_ERROR_LOG("cannot write " + path);
}

// A port of `next` that the listeners do not use yet (those in use, or
// where they are not known, those of the settings as read).
bool PortsWaitForStart(const CServerSettings& next, const CServerSettings& before, const app::ComponentPorts& in_use) {
    auto differs = [](int port, int running, int read) { return port != (running != 0 ? running : read); };
    return differs(next.SMTPPort, in_use.smtp, before.SMTPPort) ||
           differs(next.POP3Port, in_use.pop3, before.POP3Port) ||
           differs(next.AdminPort, in_use.admin, before.AdminPort);
}

// The user's edits of a domain list laid over the file's current one: a
// name the user removed goes, a record the user added or changed takes the
// user's values (added at the end where the file lacks it); every other
// line is the file's.
void LayOverDomainEdits(const DomainTable& before, const DomainTable& edited, DomainTable& target) {
    for (const DomainRecord& record : before.records()) {
        if (edited.Find(record.Name) >= 0) continue;
        if (const int at = target.Find(record.Name); at >= 0) target.Delete(at);
    }
    for (const DomainRecord& record : edited.records()) {
        const int was = before.Find(record.Name);
        if (was >= 0 && before.records()[static_cast<std::size_t>(was)] == record) continue;
        if (const int at = target.Find(record.Name); at >= 0) {
            target.Set(at, record);
        } else {
            target.Add(record);
        }
    }
}

}  // namespace

FileRevision RevisionOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return FileRevision{true, st.st_ino, st.st_size,
                        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

SettingsForm::SettingsForm(SettingsSource& source) : source_(source) { Read(); }

void SettingsForm::Read() {
    const SettingsSnapshot in_force = source_.Current();
    // The revision is taken before the read, so a change made meanwhile is
    // never missed; a read that itself completed the file (the column
    // widths of a new config.ini) is read once more.
    for (int attempt = 0; attempt < 3; ++attempt) {
        original_ = *in_force;
        revision_ = RevisionOf(original_.ConfigIni());
        original_.Load();
        if (RevisionOf(original_.ConfigIni()) == revision_) break;
    }
    work_ = original_;
    const auto config = ProfileFile(original_.ConfigIni()).Load();
    single_.LoadFrom(*config, DomainTable::kSingleDomain, original_);
    multi_.LoadFrom(*config, DomainTable::kMultiDomain, original_);
    single_original_ = single_;
    multi_original_ = multi_;
}

DomainRefusal SettingsForm::AddDomain(const DomainInput& input) {
    const auto name = CleanDomainName(input.name);
    if (!name) return DomainRefusal::kEmptyName;
    if (multi_.Find(*name) >= 0) return DomainRefusal::kDuplicate;
    if (multi_.GetCount() >= kMaxDomains) return DomainRefusal::kTableFull;
    multi_.Add(MakeRecord(*name, input));
    return DomainRefusal::kNone;
}

DomainRefusal SettingsForm::EditDomain(int index, const DomainInput& input) {
    if (index < 0 || index >= multi_.GetCount()) return DomainRefusal::kNoSelection;
    const auto name = CleanDomainName(input.name);
    if (!name) return DomainRefusal::kEmptyName;
    const int found = multi_.Find(*name);
    if (found >= 0 && found != index) return DomainRefusal::kDuplicate;
    multi_.Set(index, MakeRecord(*name, input));
    return DomainRefusal::kNone;
}

DomainRefusal SettingsForm::RemoveDomain(int index) {
    return multi_.Delete(index) ? DomainRefusal::kNone : DomainRefusal::kNoSelection;
}

DomainRefusal SettingsForm::EditSingleDomain(const DomainInput& input) {
    const auto name = CleanDomainName(input.name);
    if (!name) return DomainRefusal::kEmptyName;
    single_.Set(0, MakeRecord(*name, input));
    work_.Dominame = *name;
    return DomainRefusal::kNone;
}

DomainInput SettingsForm::SingleDomainInput() const {
    DomainRecord record(work_.DefaultVolume);
    single_.Get(0, record);
    DomainInput input = MakeInput(record);
    input.name = work_.Dominame;
    return input;
}

DomainInput SettingsForm::MultiDomainInput(int index) const {
    DomainRecord record(work_.DefaultVolume);
    multi_.Get(index, record);
    return MakeInput(record);
}

bool SettingsForm::KeepCurrentDomain() {
    const std::string name = CleanDominame(work_.Dominame);
    if (name.empty() || multi_.Find(name) >= 0 || multi_.GetCount() >= kMaxDomains) return false;
    DomainRecord record(work_.DefaultVolume);
    single_.Get(0, record);
    record.Name = name.substr(0, kMaxDomainNameLength);
    return multi_.Add(record) == 1;
}

std::vector<std::string> SettingsForm::AccountsOutsideNewDomainMode(const AccountList& accounts) const {
    const bool multi = work_.DomainNameType == DomainTable::kMultiDomain;
    if (multi == (original_.DomainNameType == DomainTable::kMultiDomain)) return {};
    std::vector<std::string> outside;
    for (std::string& name : accounts.Names()) {
        if ((name.find('@') != std::string::npos) != multi) outside.push_back(std::move(name));
    }
    return outside;
}

std::vector<std::string> SettingsForm::Refusals() const {
    std::vector<std::string> refused = original_.refused_values();
    for (std::string& value : Finish(work_, single_, multi_).settings.CheckValues()) {
        refused.push_back(std::move(value));
    }
    return refused;
}

ServiceChange SettingsForm::PendingServiceChange() const {
    const bool before = original_.RunAsService != 0;
    const bool after = work_.RunAsService != 0;
    if (before == after) return ServiceChange::kNone;
    return after ? ServiceChange::kInstall : ServiceChange::kRemove;
}

bool SettingsForm::Changed() const {
    const Finished next = Finish(work_, single_, multi_);
    return !(next.settings == original_) || !(next.single == single_original_) || !(multi_ == multi_original_);
}

bool SettingsForm::ChangedOnDisk() const { return !(RevisionOf(original_.ConfigIni()) == revision_); }

void SettingsForm::ReloadFromDisk() {
    // Only the values the user changed are laid over the file's current
    // ones: a key another program set meanwhile keeps its new value.
    const CServerSettings read_before = original_;
    const CServerSettings edited = work_;
    const DomainTable single_edited = single_;
    const DomainTable multi_before = multi_original_;
    const DomainTable multi_edited = multi_;
    const bool single_changed = !(single_ == single_original_);
    Read();
    CopyChangedValues(read_before, edited, work_);
    if (single_changed) single_ = single_edited;
    LayOverDomainEdits(multi_before, multi_edited, multi_);
}

CommitResult SettingsForm::Commit(ServiceSwitch& service, const app::ComponentPorts& in_use) {
    CommitResult result;
    result.refused = Refusals();
    if (!result.refused.empty()) return result;
    result.service = PendingServiceChange();
    if (result.service != ServiceChange::kNone) {
        result.service_error = result.service == ServiceChange::kInstall ? service.SwitchOn() : service.SwitchOff();
        if (result.service_error) work_.RunAsService = original_.RunAsService;
    }
    if (!Changed()) return result;

    Finished next = Finish(work_, single_, multi_);
    const bool com_existed = FileExists(JoinPath(next.settings.Folder(), kComIniName));
    // Both tables are kept, whichever is in force, in the same rewrite.
    const DomainTable& other = next.settings.DomainNameType == DomainTable::kMultiDomain ? next.single : multi_;
    const FileRevision before = RevisionOf(next.settings.ConfigIni());
    const bool saved = next.settings.Save([&](IniDocument& doc) {
        CServerSettings scratch = next.settings;
        return other.WriteTo(doc, scratch);
    });
    if (RevisionOf(next.settings.ConfigIni()) == before) {
        result.save_failed = true;
        return result;
    }
    // A refused value (a line break) is logged and left out; the rest is
    // written and in force.
    result.written = true;
    result.save_failed = !saved;
    const SettingsSnapshot in_force = source_.Reload();
    WriteComponentConfig(*in_force, com_existed, in_use);
    result.ports_wait_for_start = PortsWaitForStart(*in_force, original_, in_use);
    Read();
    return result;
}

}  // namespace quorvex::gui
