// The domain table: records in memory, their keys in config.ini, and the
// reload of the published settings' table after every save.
#include "common/DomainTable.h"

#include <algorithm>

#include "common/AccountName.h"
#include "common/ConfigWriter.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingRanges.h"
#include "common/WebServerShare.h"

namespace quorvex {

namespace {

constexpr const char* kSection = "DomainName";
constexpr const char* kConfigLabel = "config.ini";
// The name is read with a 257-byte buffer.
constexpr std::size_t kNameBuffer = kMaxDomainNameLength + 1;
// Dominame holds at most 1024 characters.
constexpr std::size_t kMaxDominameLength = 1024;

std::string Numbered(const char* key, int number) { return key + std::to_string(number); }

std::string Cut(std::string_view text, std::size_t max_length) {
    return std::string(text.substr(0, std::min(text.size(), max_length)));
}

}  // namespace

DomainRecord::DomainRecord() : MailboxDefaultSize(Settings()->DefaultVolume) {}

int DomainTable::Add(const DomainRecord& record) {
    if (mode_ == kSingleDomain || GetCount() >= kMaxDomains) return 0;
    records_.push_back(record);
    return 1;
}

int DomainTable::Delete(int index) {
    if (mode_ == kSingleDomain || index < 0 || index >= GetCount()) return 0;
    records_.erase(records_.begin() + index);
    return 1;
}

int DomainTable::Set(int index, const DomainRecord& record) {
    if (index < 0 || index >= GetCount()) return 0;
    records_[static_cast<std::size_t>(index)] = record;
    return 1;
}

int DomainTable::Get(int index, DomainRecord& out) const {
    if (index < 0 || index >= GetCount()) return 0;
    out = records_[static_cast<std::size_t>(index)];
    return 1;
}

int DomainTable::Find(std::string_view name) const {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (SameName(records_[i].Name, name)) return static_cast<int>(i);
    }
    return -1;
}

void DomainTable::LoadFrom(const IniDocument& config, int mode, const CServerSettings& settings) {
    mode_ = mode == kModeFromSettings ? settings.DomainNameType : mode;
    const int default_size = settings.DefaultVolume;
    records_.clear();
    if (mode_ == kSingleDomain) {
        DomainRecord record(default_size);
        record.Name = Cut(settings.Dominame, kMaxDomainNameLength);
        record.MaxAccounts = ReadConfigInt(config, kSection, "DomainMaxAccount", -1);
        record.MaxSpace = ReadConfigInt(config, kSection, "DomainMaxSpace", -1);
        record.MailboxDefaultSize = ReadConfigInt(config, kSection, "MailboxDefaultSize", default_size);
        records_.push_back(std::move(record));
        return;
    }
    const int count = std::clamp(ReadConfigInt(config, kSection, "Count", 0), 0, kMaxDomains);
    records_.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        DomainRecord record(default_size);
        record.Name = ReadConfigText(config, kSection, Numbered("DN", i), "", kNameBuffer);
        record.MaxAccounts = ReadConfigInt(config, kSection, Numbered("DNAccount", i), -1);
        record.MaxSpace = ReadConfigInt(config, kSection, Numbered("DNSpace", i), -1);
        record.MailboxDefaultSize = ReadConfigInt(config, kSection, Numbered("MailboxDefaultSize", i), default_size);
        records_.push_back(std::move(record));
    }
}

void DomainTable::CheckNumbers(const IniDocument& config, const std::string& file, std::vector<std::string>& refused) {
    const auto check = [&](const std::string& key, const NumberRange& range) {
        CheckNumberKey(config, file, kSection, key, range, refused);
    };
    check("DomainMaxAccount", kDomainMailboxesRange);
    check("DomainMaxSpace", kDomainSpaceRange);
    check("MailboxDefaultSize", kMailboxSizeRange);
    check("Count", NumberRange{0, kMaxDomains});
    const int count = std::clamp(ReadConfigInt(config, kSection, "Count", 0), 0, kMaxDomains);
    for (int i = 1; i <= count; ++i) {
        check(Numbered("DNAccount", i), kDomainMailboxesRange);
        check(Numbered("DNSpace", i), kDomainSpaceRange);
        check(Numbered("MailboxDefaultSize", i), kMailboxSizeRange);
    }
}

int DomainTable::Load(int mode) {
    const auto settings = Settings();
    LoadFrom(*ProfileFile(settings->ConfigIni()).Load(), mode, *settings);
    return 1;
}

bool DomainTable::WriteTo(IniDocument& config, CServerSettings& settings) const {
    bool all_written = true;
    const auto text = [&](const char* section, const std::string& key, std::string_view value) {
        all_written &= WriteConfigText(config, kConfigLabel, section, key, value);
    };
    const auto number = [&](const char* section, const std::string& key, long long value) {
        all_written &= WriteConfigInt(config, kConfigLabel, section, key, value);
    };
    if (mode_ != kSingleDomain) {
        number(kSection, "Count", GetCount());
        for (int i = 1; i <= GetCount(); ++i) {
            const DomainRecord& record = records_[static_cast<std::size_t>(i - 1)];
            text(kSection, Numbered("DN", i), record.Name);
            number(kSection, Numbered("DNAccount", i), record.MaxAccounts);
            number(kSection, Numbered("DNSpace", i), record.MaxSpace);
            number(kSection, Numbered("MailboxDefaultSize", i), record.MailboxDefaultSize);
        }
        return all_written;
    }
    // A single-domain table that was never loaded has no record to write.
    if (records_.empty()) return true;
    const DomainRecord& record = records_.front();
    text("System", "Dominame", record.Name);
    if (all_written) settings.Dominame = Cut(record.Name, kMaxDominameLength);
    number(kSection, "DomainMaxAccount", record.MaxAccounts);
    number(kSection, "DomainMaxSpace", record.MaxSpace);
    number(kSection, "MailboxDefaultSize", record.MailboxDefaultSize);
    return all_written;
}

bool DomainTable::WriteComIni(const std::string& program_folder) const {
    if (mode_ != kSingleDomain || records_.empty()) return true;
    ProfileFile com_ini(JoinPath(program_folder, "QuorvexCOM.ini"));
    if (ExistsButUnreadable(com_ini.path())) return false;
    const bool is_new = !FileExists(com_ini.path());
    const bool written = com_ini.Edit([&](IniDocument& doc) {
        return WriteConfigText(doc, "QuorvexCOM.ini", "system", "Dominame", records_.front().Name);
    });
    // The web-mail component reads it inside the web server.
    if (written && is_new) ShareWithWebServer(com_ini.path(), kWebReadFileMode);
    return written;
}

int DomainTable::Save() const {
    const auto current = Settings();
    ProfileFile config(current->ConfigIni());
    if (ExistsButUnreadable(config.path())) {
        QUORVEX_ERROR_LOG("config.ini exists but cannot be read; the domain table was not saved");
        return 0;
    }
    CServerSettings scratch = *current;
    const bool written = config.Edit([&](IniDocument& doc) {
        WriteTo(doc, scratch);
        return true;
    });
    if (!written) {
        QUORVEX_ERROR_LOG("config.ini could not be written; the domain table was not saved");
        return 0;
    }
    WriteComIni(current->Folder());
    // The published table follows the file, whichever table was saved.
    UpdateSettings([&](CServerSettings& live) {
        if (mode_ == kSingleDomain) live.Dominame = scratch.Dominame;
        live.Domains.LoadFrom(*config.Load(), kModeFromSettings, live);
    });
    return 1;
}

}  // namespace quorvex
