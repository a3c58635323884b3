// The one global settings record: every setting of config.ini, the two
// block lists of EmailFilter.ini and the domain table. Readers take an
// immutable snapshot with Settings() and keep it for as long as they need
// consistent values (a session keeps the one it started with); a reload
// builds a new record and publishes it whole, so no reader ever sees a
// half-written field.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/DomainTable.h"
#include "common/IniDocument.h"

namespace quorvex {

// Defaults that are texts; the others stand beside their fields below.
inline constexpr const char* kDefaultDnsServer = "a.root-servers.net";
inline constexpr const char* kDefaultDnsSecondary = "b.root-servers.net";
inline constexpr const char* kDefaultSiteForCheckingOnLine = "www.debian.org";
inline constexpr const char* kDefaultColumnWidths = "76,65,76,64,60,116,44,86,";

// The From and IP block lists hold at most this many entries of at most
// kMaxBlockEntryLength characters each.
inline constexpr int kMaxBlockListEntries = 100;
inline constexpr std::size_t kMaxBlockEntryLength = 260;

// Field names are the config.ini key names; where a key name occurs in
// several sections the section is put in front (AntiVirusEnable, ProxyPort).
// A "flag" is off at 0 and on at any other value; it is saved as "1"/"0".
struct CServerSettings {
    // [System]
    int MailServerModel = 1;  // 0 LAN, 1 Internet, 2 relaying for local senders only
    int ESMTP = 0;            // a local MAIL FROM needs SMTP authentication
    int FromEqualEsmtpUser = 1;
    int MailProxy = 0;     // "user#host" logins are proxied to host
    int RunAsService = 0;  // saving with this on forces AutoRun to 0
    int TerminalServices = 0;
    int OpenRelay = 0;             // flag
    int SendOutIfAbsent = 0;       // flag
    int InternetConnectCheck = 0;  // flag
    int MaxPasswordTries = 3;
    int MaxRcpts = 20;
    int DomainNameType = 0;  // 1 multi-domain, 0 single-domain
    DomainTable Domains;
    std::string Dominame;      // [system] Dominame; default: computer name + ".com", lower case
    int EnableHeloDomainIP = 0;  // flag
    int EnableSignUp = 1;
    std::string DNS = kDefaultDnsServer;
    std::string DNSSecondary = kDefaultDnsSecondary;
    int MaxTries = 20;
    int NextTryInterval = 10;  // minutes
    int MailRelayTo = 0;
    std::string RelayServer;
    int RelayPort = 25;
    // [ISPSMTP]
    int ISPSMTPNeedAuth = 0;  // flag
    std::string ISPSMTPUserName;
    std::string ISPSMTPPassword;  // plain here, scrambled in the file
    // [System] ByProxy and [Proxy]
    int ByProxy = 0;
    std::string ProxyAddress;
    int ProxyPort = 1080;
    int ProxyAuth = 0;
    std::string ProxyUser;
    std::string ProxyPass;
    std::string ProxyProtocol = "SOCKS5";  // "SOCKS5", "HTTP" or "HTTPS"
    // [Port]
    int POP3Port = 110;
    int SMTPPort = 25;
    int AdminPort = 8011;
    // [System]
    int NeedAuthorized = 0;
    int LocalAbbrv = 0;
    std::string Language;  // default from the system locale
    int DefaultVolume = 20;  // MB
    int Minimized = 0;
    int AutoRun = 1;
    int AutoLock = 0;
    // [AntiVirus]
    int AntiVirusEnable = 0;
    std::string GateAddress = "127.0.0.1";
    int GatePort = 110;
    int AutoCloseNAVAlert = 0;  // flag
    std::string NVATitle = "Norton AntiVirus";
    std::string NVAClass = "CWebWindow_Class";
    // [System]
    int EnableMailsCopyTo = 0;
    int EnableOutMailsCopyTo = 1;
    int EnableInMailsCopyTo = 1;
    std::string MailsCopyTo;
    // [Log]
    int MaxLogLine = 10000;
    std::string LogFilePath;  // [Log] FilePath; default: "log" in the program folder
    int ShowPOP3Remote = 1;   // flag
    // [WebMail]
    std::string WebMailIP = "127.0.0.1";  // ";"-separated addresses
    // [POP3]
    int AutoRecvPOP3 = 0;
    int TimeIntervalRecvPOP3 = 30;  // minutes
    int POP3AutoRecvThreadNumber = 1;
    // [System]
    int EnableCatchAll = 0;
    std::string AccountCatchAll = "admin";
    std::string PermittedIP = "all";
    int MaxMailSize = -1;  // bytes; -1 = no limit
    std::string SiteForCheckingOnLine = kDefaultSiteForCheckingOnLine;
    int StopMSSMTP = 1;  // flag
    std::string WelcomeMessage;
    int HideWelcomeMessage = 0;  // flag
    // [EmailFilter] Enable and the From list of EmailFilter.ini
    int EmailFilterEnable = 0;      // flag
    std::vector<std::string> FromList;  // blocked senders: an address or "@domain"
    // [System]
    int EnableSystemFilter = 0;  // flag
    std::string EmailFilterSystem;
    // [IPBlock] Enable and the IP list of EmailFilter.ini
    int IPBlockEnable = 0;        // flag
    std::vector<std::string> IPList;  // a dotted address or "a.b.c.d-e.f.g.h"
    // [System]
    std::string ODBCUser;
    std::string ODBCPassword;
    // [AntiSpam]
    std::string WhiteList;
    int AntiSpamEnable = 0;  // flag
    // [System]
    int ExecuteSP = 0;             // flag
    int ExecuteSPFirst = 1;        // flag
    int EnableReceipt = 0;         // flag
    int SendIPEmailAddress = 0;    // flag
    int MaxConnectionPerIP = -1;   // -1 = no limit
    // [ShortMessage]
    std::string ShortMessageIP;
    int ShortMessagePort = 7890;
    std::string ShortMessageID;
    std::string ShortMessageUserName;
    std::string ShortMessagePassword;
    int ShortMessageEnable = 0;  // flag
    // [system]
    std::string PermittedIPSMTP;  // ";"-separated addresses
    std::string AnonymousAccount;

    // Where the record was loaded from and is saved to. Empty: the program
    // folder (ProgramFolder()) and its config.ini.
    std::string ProgramFolderPath;
    std::string ConfigIniPath;

    // Points the record at another program folder (tests, tools).
    void SetProgramFolder(const std::string& folder);
    // The folder and files the record uses: its own paths when set, else
    // the program folder's.
    std::string Folder() const;
    std::string ConfigIni() const;
    std::string EmailFilterIni() const;

    // Fills every field from config.ini and EmailFilter.ini, starting from
    // the defaults. Writes nothing except the account list's column widths
    // when they are missing. A number is read as before (its leading
    // digits); refused_values() says which values are not what their key
    // takes.
    void Load();
    // The values Load found that cannot be taken as they are, one sentence
    // each naming the file, the key, the value and what the key takes: a
    // number that is not a whole number in its key's range, an empty
    // Dominame, two servers on one port. A missing key is never refused.
    // Start-up and "-update" refuse such files; nothing is saved over them.
    const std::vector<std::string>& refused_values() const { return refused_values_; }
    // The same rules applied to the record itself (the settings window's
    // working copy): one sentence per value it cannot save.
    std::vector<std::string> CheckValues() const;
    // Writes every field back: config.ini in one atomic rewrite, then
    // EmailFilter.ini, QuorvexCOM.ini (single-domain mode) and the
    // autostart entry. Refuses (false, nothing written, error logged) when
    // config.ini or EmailFilter.ini exists but could not be read, so that a
    // file it could not understand is never replaced by defaults. Also false
    // when a value was refused (it holds CR or LF) or a file not written.
    // `also` may write more keys into config.ini within the same rewrite
    // (the settings window saves its second domain table so).
    bool Save(const std::function<bool(IniDocument&)>& also = {});

    // True when Load found config.ini or EmailFilter.ini present but
    // unreadable.
    bool load_failed() const { return load_failed_; }

    bool operator==(const CServerSettings&) const = default;

private:
    bool load_failed_ = false;
    std::vector<std::string> refused_values_;
};

// Lays what was edited in a copy of `before` over another reading of the
// files: every value of config.ini and EmailFilter.ini that `edited` holds
// differently from `before` is copied into `target`; the others (and the
// domain table) keep `target`'s.
void CopyChangedValues(const CServerSettings& before, const CServerSettings& edited, CServerSettings& target);

// Several mail domains ("DomainNameType" 1): an account's name is its whole
// address.
inline bool IsMultiDomain(const CServerSettings& settings) { return settings.DomainNameType == 1; }

// The three mail-server models of "MailServerModel": a LAN server takes no
// mail for other domains; an Internet server relays for local or
// authenticated senders and permitted addresses; the third relays for
// local senders only, each under its account's Internet address.
inline bool IsLanMailServer(const CServerSettings& s) { return s.MailServerModel == 0; }
inline bool IsInternetMailServer(const CServerSettings& s) { return s.MailServerModel == 1; }
inline bool SendersMustBeLocal(const CServerSettings& s) { return s.MailServerModel == 2; }

// The published record. Before the first publish: a record of defaults.
std::shared_ptr<const CServerSettings> Settings();
// Makes `settings` the record every later Settings() call returns.
void PublishSettings(std::shared_ptr<const CServerSettings> settings);
// Copies the published record, lets `change` edit the copy and publishes
// it. Writers are serialised, so two updates never lose each other's edit.
void UpdateSettings(const std::function<void(CServerSettings&)>& change);
// Loads a new record from the program folder's files and publishes it.
std::shared_ptr<const CServerSettings> ReloadSettings();
// Start-up: loads, saves at once (so config.ini holds every key) and
// publishes. False when the save was refused or failed; the loaded record
// is published all the same. When the files hold refused values nothing
// is saved or published: `refused` (when given) gets them, and false.
bool LoadAndSaveSettingsAtStartup(std::vector<std::string>* refused = nullptr);

}  // namespace quorvex
