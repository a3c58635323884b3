// Loading and saving the settings record: config.ini, the two block lists
// of EmailFilter.ini, the domain table and the autostart entry. One table
// lists every key in the order Save writes it, so that a new config.ini
// lists its keys in that order and Load and Save can never disagree about
// a section, a key or a width.
#include <algorithm>

#include "common/AsciiCase.h"
#include "common/BoundedString.h"
#include "common/ConfigWriter.h"
#include "common/ErrorLog.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/PasswordScramble.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingRanges.h"
#include "common/SettingsHost.h"
#include "common/Translation.h"

namespace quorvex {

namespace {

using S = CServerSettings;

// How a field is stored. kNumber: "%d"; kFlag: "1" when nonzero, else "0";
// kText: as held, read with a buffer of `buffer` bytes. The other kinds
// mark the places in the save order where more than one key is written.
enum class Kind { kNumber, kFlag, kText, kDomainTable, kRelayPassword, kBlockLists };

struct Key {
    const char* section;
    const char* key;
    Kind kind;
    int S::*number = nullptr;
    std::string S::*text = nullptr;
    std::size_t buffer = 0;
    // The values a number or a flag accepts.
    NumberRange range = kSwitchRange;
    // Dominame, DNS, DNSSecondary, Language and FilePath take their
    // default when the file holds the key with an empty value.
    bool default_when_empty = false;
};

constexpr Key Number(const char* section, const char* key, int S::*field, NumberRange range) {
    return {section, key, Kind::kNumber, field, nullptr, 0, range};
}
constexpr Key Flag(const char* section, const char* key, int S::*field) { return {section, key, Kind::kFlag, field}; }
constexpr Key Text(const char* section, const char* key, std::string S::*field, std::size_t buffer,
                   bool default_when_empty = false) {
    return {section, key, Kind::kText, nullptr, field, buffer, kAnyNumber, default_when_empty};
}
constexpr Key Special(Kind kind) { return {"", "", kind}; }

// Widths: a buffer of N bytes reads at most N - 1 characters.
constexpr std::size_t k77 = 77, k261 = 261, k1024 = 1024, k4096 = 4096, k4097 = 4097;
// The relay password field holds 1024 characters; its stored form is read
// with a 1024-byte buffer.
constexpr std::size_t kRelayPasswordCapacity = 1025;
constexpr std::size_t kPathCapacity = 261;

const Key kKeys[] = {
    Number("System", "MailServerModel", &S::MailServerModel, NumberRange{0, 2}),
    Number("System", "ESMTP", &S::ESMTP, kSwitchRange),
    Number("System", "FromEqualEsmtpUser", &S::FromEqualEsmtpUser, kSwitchRange),
    Number("System", "MailProxy", &S::MailProxy, kSwitchRange),
    Number("System", "RunAsService", &S::RunAsService, kSwitchRange),
    Number("System", "DomainNameType", &S::DomainNameType, NumberRange{0, 1}),
    Special(Kind::kDomainTable),
    Text("System", "Dominame", &S::Dominame, k1024, true),
    Text("System", "DNS", &S::DNS, k1024, true),
    Text("System", "DNSSecondary", &S::DNSSecondary, k1024, true),
    Number("System", "MaxTries", &S::MaxTries, kTriesRange),
    Number("System", "NextTryInterval", &S::NextTryInterval, kRetryMinutesRange),
    Number("System", "MailRelayTo", &S::MailRelayTo, kSwitchRange),
    Text("System", "RelayServer", &S::RelayServer, k1024),
    Number("System", "RelayPort", &S::RelayPort, kPortRange),
    Number("Port", "POP3", &S::POP3Port, kPortRange),
    Number("Port", "SMTP", &S::SMTPPort, kPortRange),
    Number("Port", "Admin", &S::AdminPort, kPortRange),
    Number("System", "NeedAuthorized", &S::NeedAuthorized, kSwitchRange),
    Number("System", "LocalAbbrv", &S::LocalAbbrv, kSwitchRange),
    Text("System", "Language", &S::Language, k1024, true),
    Number("System", "DefaultVolume", &S::DefaultVolume, kMailboxSizeRange),
    Number("System", "Minimized", &S::Minimized, kSwitchRange),
    Number("System", "AutoRun", &S::AutoRun, kSwitchRange),
    Number("System", "AutoLock", &S::AutoLock, kSwitchRange),
    Number("System", "ByProxy", &S::ByProxy, kSwitchRange),
    Text("Proxy", "Address", &S::ProxyAddress, k1024),
    Number("Proxy", "Port", &S::ProxyPort, kPortRange),
    Number("Proxy", "Auth", &S::ProxyAuth, kSwitchRange),
    Text("Proxy", "User", &S::ProxyUser, k1024),
    Text("Proxy", "Pass", &S::ProxyPass, k1024),
    Text("Proxy", "Protocol", &S::ProxyProtocol, k1024),
    Number("AntiVirus", "Enable", &S::AntiVirusEnable, kSwitchRange),
    Text("AntiVirus", "GateAddress", &S::GateAddress, k4096),
    Number("AntiVirus", "GatePort", &S::GatePort, kPortRange),
    Flag("AntiVirus", "AutoCloseNAVAlert", &S::AutoCloseNAVAlert),
    Text("AntiVirus", "NVATitle", &S::NVATitle, k4096),
    Text("AntiVirus", "NVAClass", &S::NVAClass, k4096),
    Number("System", "EnableMailsCopyTo", &S::EnableMailsCopyTo, kSwitchRange),
    Number("System", "EnableOutMailsCopyTo", &S::EnableOutMailsCopyTo, kSwitchRange),
    Number("System", "EnableInMailsCopyTo", &S::EnableInMailsCopyTo, kSwitchRange),
    Text("System", "MailsCopyTo", &S::MailsCopyTo, k4096),
    Flag("System", "OpenRelay", &S::OpenRelay),
    Number("System", "MaxPasswordTries", &S::MaxPasswordTries, kTriesRange),
    Number("System", "MaxRcpts", &S::MaxRcpts, kRecipientsRange),
    Text("WebMail", "IP", &S::WebMailIP, k4096),
    Number("System", "EnableSignUp", &S::EnableSignUp, kSwitchRange),
    Text("Log", "FilePath", &S::LogFilePath, kPathCapacity - 1, true),
    Number("Log", "MaxLogLine", &S::MaxLogLine, kLogLinesRange),
    Flag("Log", "ShowPOP3Remote", &S::ShowPOP3Remote),
    Number("POP3", "AutoRecvPOP3", &S::AutoRecvPOP3, kSwitchRange),
    Number("POP3", "TimeIntervalRecvPOP3", &S::TimeIntervalRecvPOP3, kMinutesRange),
    Number("POP3", "POP3AutoRecvThreadNumber", &S::POP3AutoRecvThreadNumber, kCollectorsRange),
    Text("System", "PermittedIP", &S::PermittedIP, k4096),
    Number("System", "MaxMailSize", &S::MaxMailSize, kMailSizeRange),
    Number("System", "TerminalServices", &S::TerminalServices, kSwitchRange),
    Number("System", "EnableCatchAll", &S::EnableCatchAll, kSwitchRange),
    Text("System", "AccountCatchAll", &S::AccountCatchAll, k1024),
    Text("System", "SiteForCheckingOnLine", &S::SiteForCheckingOnLine, k4096),
    Flag("System", "StopMSSMTP", &S::StopMSSMTP),
    Flag("System", "InternetConnectCheck", &S::InternetConnectCheck),
    Text("System", "WelcomeMessage", &S::WelcomeMessage, k4096),
    Flag("System", "HideWelcomeMessage", &S::HideWelcomeMessage),
    Flag("EmailFilter", "Enable", &S::EmailFilterEnable),
    Special(Kind::kBlockLists),
    Flag("IPBlock", "Enable", &S::IPBlockEnable),
    Flag("System", "EnableHeloDomainIP", &S::EnableHeloDomainIP),
    Flag("System", "SendOutIfAbsent", &S::SendOutIfAbsent),
    Flag("ISPSMTP", "NeedAuth", &S::ISPSMTPNeedAuth),
    Text("ISPSMTP", "UserName", &S::ISPSMTPUserName, k1024),
    Special(Kind::kRelayPassword),
    Text("System", "ODBCUser", &S::ODBCUser, k77),
    Text("System", "ODBCPassword", &S::ODBCPassword, k77),
    Flag("System", "EnableSystemFilter", &S::EnableSystemFilter),
    Text("System", "EmailFilterSystem", &S::EmailFilterSystem, k77),
    Flag("System", "ExecuteSP", &S::ExecuteSP),
    Flag("System", "ExecuteSPFirst", &S::ExecuteSPFirst),
    Flag("System", "EnableReceipt", &S::EnableReceipt),
    Flag("System", "SendIPEmailAddress", &S::SendIPEmailAddress),
    Number("System", "MaxConnectionPerIP", &S::MaxConnectionPerIP, kConnectionsRange),
    Flag("ShortMessage", "Enable", &S::ShortMessageEnable),
    Text("ShortMessage", "IP", &S::ShortMessageIP, k261),
    Number("ShortMessage", "Port", &S::ShortMessagePort, kPortRange),
    Text("ShortMessage", "ID", &S::ShortMessageID, k261),
    Text("ShortMessage", "UserName", &S::ShortMessageUserName, k261),
    Text("ShortMessage", "Password", &S::ShortMessagePassword, k261),
    Flag("AntiSpam", "Enable", &S::AntiSpamEnable),
    Text("AntiSpam", "WhiteList", &S::WhiteList, k4097),
    Text("system", "PermittedIPSMTP", &S::PermittedIPSMTP, k4097),
    Text("system", "AnonymousAccount", &S::AnonymousAccount, k261),
};

// Numbers of config.ini that the parts using them read themselves: they
// are refused at start-up and by "-update" as the record's own are.
struct OutsideKey {
    const char* section;
    const char* key;
    NumberRange range;
};
const OutsideKey kOutsideKeys[] = {
    {"system", "BugTrace", kSwitchRange},
    {"system", "TestTryCatch", kSwitchRange},
    {"system", "CloseMode", kCloseModeRange},
    {"system", "setup", kSwitchRange},
    {"System", "AllHide", kSwitchRange},
    {"System", "DBUpgrade1.0", kSwitchRange},
    {"System", "MailThreadNum", kSenderThreadsRange},
    {"System", "SocketIdleTimeout", kMinutesRange},
    {"Database", "Count", kStartupStatementsRange},
};

constexpr NumberRange kBlockListCountRange{0, kMaxBlockListEntries};

constexpr const char* kConfigLabel = "config.ini";
constexpr const char* kFilterLabel = "EmailFilter.ini";

struct BlockList {
    const char* section;  // also the prefix of the numbered keys
    std::vector<std::string> S::*entries;
};
const BlockList kBlockLists[] = {{"From", &S::FromList}, {"IP", &S::IPList}};

// Copies `text` as a buffer of `capacity` bytes would hold it; a cut is
// written to the error log as every bounded copy's is.
std::string Bounded(const std::string& text, std::size_t capacity) {
    std::vector<char> buffer(capacity, '\0');
    QUORVEX_BOUNDED(CopyStringBounded(buffer.data(), static_cast<std::uint32_t>(capacity), text.c_str()));
    return std::string(buffer.data());
}

// The mail domain that a machine without a configured one gets: the
// computer name (at most 260 characters), ".com", in lower case.
std::string DefaultDominame(const SettingsHost& host) {
    std::string name = host.computer_name();
    if (name.size() > kPathCapacity - 1) name.resize(kPathCapacity - 1);
    return AsciiLowerCase(Bounded(name + ".com", kPathCapacity));
}

// [Log] FilePath in the file may be relative to the program folder, so a
// copied or moved folder keeps logging into itself; the record holds the
// full path.
std::string LogFolderFromFile(const std::string& value, const std::string& program_folder) {
    if (value.empty() || value.front() == '/') return value;
    return Bounded(JoinPath(program_folder, value), kPathCapacity);
}

// The log folder as written back: relative when it lies inside the program
// folder, else as it is.
std::string LogFolderForFile(const std::string& path, const std::string& program_folder) {
    std::string_view folder(program_folder);
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    if (!folder.empty() && path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
        path[folder.size()] == '/')
        return path.substr(folder.size() + 1);
    return path;
}

constexpr const char* kDominameExpected = "the name of the mail domain";

// Why two servers cannot share a port, as one sentence after a colon.
std::string ClashReason(const PortClash& clash) {
    return std::string("the ") + clash.first + " and " + clash.second + " servers cannot share a port.";
}

std::vector<std::string> LoadBlockList(const IniDocument& doc, const char* section) {
    const int count = std::min(ReadConfigInt(doc, section, "Count", 0), kMaxBlockListEntries);
    std::vector<std::string> entries;
    for (int i = 1; i <= count; ++i) {
        entries.push_back(ReadConfigText(doc, section, section + std::to_string(i), "", kMaxBlockEntryLength + 1));
    }
    return entries;
}

}  // namespace

void CServerSettings::Load() {
    const SettingsHost host = CurrentSettingsHost();
    const std::string config_path = ConfigIni();
    const std::string filter_path = EmailFilterIni();
    load_failed_ = ExistsButUnreadable(config_path) || ExistsButUnreadable(filter_path);
    if (load_failed_) {
        QUORVEX_ERROR_LOG("config.ini or EmailFilter.ini exists but cannot be read; defaults are used and the "
                          "settings will not be saved over it");
    }
    ProfileFile config(config_path);
    const auto doc = config.Load();

    // Every field starts from its default; the paths stay.
    {
        CServerSettings defaults;
        defaults.ProgramFolderPath = std::move(ProgramFolderPath);
        defaults.ConfigIniPath = std::move(ConfigIniPath);
        defaults.load_failed_ = load_failed_;
        *this = std::move(defaults);
    }
    Dominame = DefaultDominame(host);
    Language.clear();
    LogFilePath = Bounded(JoinPath(Folder(), "log"), kPathCapacity);

    for (const Key& key : kKeys) {
        switch (key.kind) {
            case Kind::kNumber:
            case Kind::kFlag:
                this->*key.number = ReadConfigInt(*doc, key.section, key.key, this->*key.number);
                CheckNumberKey(*doc, config_path, key.section, key.key, key.range, refused_values_);
                break;
            case Kind::kText: {
                std::string value = ReadConfigText(*doc, key.section, key.key, this->*key.text, key.buffer);
                if (!(value.empty() && key.default_when_empty)) this->*key.text = std::move(value);
                break;
            }
            case Kind::kRelayPassword:
                ISPSMTPPassword = UnscrambledPassword(ReadConfigText(*doc, "ISPSMTP", "Password", "", k1024),
                                                     kRelayPasswordCapacity);
                break;
            case Kind::kDomainTable:
            case Kind::kBlockLists:
                break;
        }
    }
    if (const auto name = doc->Find("System", "Dominame"); name && name->empty()) {
        refused_values_.push_back(RefusedValueText(config_path, "System", "Dominame", "", kDominameExpected));
    }
    const auto sound_port = [&](const char* key) {
        const auto value = doc->Find("Port", key);
        return !value || NumberInRange(*value, kPortRange);
    };
    const auto clash = FindPortClash(SMTPPort, POP3Port, AdminPort);
    if (clash && sound_port("SMTP") && sound_port("POP3") && sound_port("Admin")) {
        refused_values_.push_back("The settings file " + config_path + " gives [Port] " + clash->first_key +
                                  " and [Port] " + clash->second_key + " the same value \"" +
                                  std::to_string(clash->port) + "\": " + ClashReason(*clash));
    }
    LogFilePath = LogFolderFromFile(LogFilePath, Folder());
    if (Language.empty()) Language = LanguageForLocale(host.locale_language());
    if (MailServerModel == 2) AutoRecvPOP3 = 1;
    if (!host.desktop_session && !doc->Find("System", "AutoRun")) AutoRun = 0;
    // Needs DomainNameType, Dominame and DefaultVolume, all read above.
    Domains.LoadFrom(*doc, DomainTable::kModeFromSettings, *this);
    DomainTable::CheckNumbers(*doc, config_path, refused_values_);
    for (const OutsideKey& key : kOutsideKeys) {
        CheckNumberKey(*doc, config_path, key.section, key.key, key.range, refused_values_);
    }
    if (!doc->Find("System", "Language").value_or("").empty()) {
        if (const auto missing = MissingLanguageFile(Folder(), Language)) {
            refused_values_.push_back(RefusedValueText(config_path, "System", "Language", Language, *missing));
        }
    }

    const auto filter = ProfileFile(filter_path).Load();
    for (const BlockList& list : kBlockLists) {
        this->*list.entries = LoadBlockList(*filter, list.section);
        CheckNumberKey(*filter, filter_path, list.section, "Count", kBlockListCountRange, refused_values_);
    }

    // The account list view keeps its column widths here; a fresh file gets
    // the defaults. Never written over a file that could not be read, nor
    // while it holds values that are refused (nothing is written then).
    if (!load_failed_ && refused_values_.empty() &&
        doc->Find("ColumnWidths", "QuorvexServerListView").value_or("").empty()) {
        config.WriteString("ColumnWidths", "QuorvexServerListView", kDefaultColumnWidths);
    }
}

std::vector<std::string> CServerSettings::CheckValues() const {
    std::vector<std::string> refused;
    for (const Key& key : kKeys) {
        if ((key.kind != Kind::kNumber && key.kind != Kind::kFlag) || key.range.Accepts(this->*key.number)) continue;
        refused.push_back(std::string("[") + key.section + "] " + key.key + " of config.ini cannot be " +
                          std::to_string(this->*key.number) + ": it takes " + key.range.Expected() + ".");
    }
    if (Dominame.empty()) {
        refused.push_back(std::string("[System] Dominame of config.ini cannot be empty: it takes ") +
                          kDominameExpected + ".");
    }
    if (const auto clash = FindPortClash(SMTPPort, POP3Port, AdminPort)) {
        refused.push_back("[Port] " + std::string(clash->first_key) + " and [Port] " + clash->second_key +
                          " of config.ini cannot both be " + std::to_string(clash->port) + ": " + ClashReason(*clash));
    }
    return refused;
}

void CopyChangedValues(const CServerSettings& before, const CServerSettings& edited, CServerSettings& target) {
    const auto copy = [&](auto S::*field) {
        if (!(edited.*field == before.*field)) target.*field = edited.*field;
    };
    for (const Key& key : kKeys) {
        if (key.number != nullptr) copy(key.number);
        if (key.text != nullptr) copy(key.text);
    }
    copy(&S::ISPSMTPPassword);
    for (const BlockList& list : kBlockLists) copy(list.entries);
}

bool CServerSettings::Save(const std::function<bool(IniDocument&)>& also) {
    ProfileFile config(ConfigIni());
    ProfileFile filter(EmailFilterIni());
    if (load_failed_ || ExistsButUnreadable(config.path()) || ExistsButUnreadable(filter.path())) {
        QUORVEX_ERROR_LOG("config.ini or EmailFilter.ini cannot be read; the settings were not saved");
        return false;
    }
    if (RunAsService != 0) AutoRun = 0;
    if (MailServerModel == 2) AutoRecvPOP3 = 1;

    bool all_written = true;
    const bool config_written = config.Edit([&](IniDocument& doc) {
        for (const Key& key : kKeys) {
            switch (key.kind) {
                case Kind::kNumber:
                    all_written &= WriteConfigInt(doc, kConfigLabel, key.section, key.key, this->*key.number);
                    break;
                case Kind::kFlag:
                    all_written &=
                        WriteConfigText(doc, kConfigLabel, key.section, key.key, this->*key.number != 0 ? "1" : "0");
                    break;
                case Kind::kText: {
                    const std::string& value = this->*key.text;
                    all_written &= WriteConfigText(doc, kConfigLabel, key.section, key.key,
                                                   key.text == &S::LogFilePath ? LogFolderForFile(value, Folder())
                                                                               : value);
                    break;
                }
                case Kind::kDomainTable:
                    all_written &= Domains.WriteTo(doc, *this);
                    break;
                case Kind::kRelayPassword: {
                    // The file keeps what fits the field scrambled; the record
                    // keeps what that gives back, as a reload would.
                    const std::string stored = ScrambledPassword(ISPSMTPPassword, kRelayPasswordCapacity);
                    all_written &= WriteConfigText(doc, kConfigLabel, "ISPSMTP", "Password", stored);
                    ISPSMTPPassword = UnscrambledPassword(stored, kRelayPasswordCapacity);
                    break;
                }
                case Kind::kBlockLists:
                    break;
            }
        }
        if (also) all_written &= also(doc);
        return true;
    });
    if (!config_written) {
        QUORVEX_ERROR_LOG("config.ini could not be written; the settings were not saved");
        return false;
    }

    // Keys numbered above Count stay in the file, unread.
    const bool filter_written = filter.Edit([&](IniDocument& doc) {
        for (const BlockList& list : kBlockLists) {
            const auto& entries = this->*list.entries;
            const auto count = std::min<std::size_t>(entries.size(), kMaxBlockListEntries);
            all_written &= WriteConfigInt(doc, kFilterLabel, list.section, "Count", static_cast<long long>(count));
            for (std::size_t i = 0; i < count; ++i) {
                all_written &=
                    WriteConfigText(doc, kFilterLabel, list.section, list.section + std::to_string(i + 1), entries[i]);
            }
        }
        return true;
    });
    if (!filter_written) QUORVEX_ERROR_LOG("EmailFilter.ini could not be written");
    const bool com_written = Domains.WriteComIni(Folder());
    if (!com_written) QUORVEX_ERROR_LOG("QuorvexCOM.ini could not be written");

    // Saving the table reloads it, here and in the published record.
    const auto written = config.Load();
    Domains.LoadFrom(*written, DomainTable::kModeFromSettings, *this);
    UpdateSettings([&](CServerSettings& live) {
        if (live.ConfigIni() == config.path()) live.Domains.LoadFrom(*written, DomainTable::kModeFromSettings, live);
    });

    CurrentSettingsHost().set_autostart(AutoRun != 0, ExecutablePath());
    return all_written && filter_written && com_written;
}

}  // namespace quorvex
