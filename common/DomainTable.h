// The local mail domains with their limits. In single-domain mode the table
// holds exactly one record, named after the settings' Dominame; in
// multi-domain mode up to kMaxDomains records kept in section [DomainName]
// of config.ini. The main instance lives inside the settings record; the
// settings dialog and the account server work on copies of their own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class IniDocument;
struct CServerSettings;

struct DomainRecord {
    // Name holds at most kMaxDomainNameLength characters.
    std::string Name;
    int MaxAccounts = -1;         // most accounts of the domain; -1 = no limit
    int MaxSpace = -1;            // most MB of quota of all its accounts; -1 = no limit
    int MailboxDefaultSize = 20;  // MB for a new account of the domain

    // Empty name, no limits, the default mailbox size of the current
    // settings ([System] DefaultVolume).
    DomainRecord();
    explicit DomainRecord(int default_mailbox_size) : MailboxDefaultSize(default_mailbox_size) {}
    bool operator==(const DomainRecord&) const = default;
};

inline constexpr int kMaxDomains = 500;
inline constexpr std::size_t kMaxDomainNameLength = 256;

class DomainTable {
public:
    static constexpr int kSingleDomain = 0;
    static constexpr int kMultiDomain = 1;
    static constexpr int kModeFromSettings = -1;

    DomainTable() = default;
    virtual ~DomainTable() = default;
    DomainTable(const DomainTable&) = default;
    DomainTable& operator=(const DomainTable&) = default;

    // All return 1 on success and 0 when refused, as the callers expect.
    // Add: refused in single-domain mode or when kMaxDomains are held; no
    // duplicate test. Delete: refused in single-domain mode or out of range.
    // Set: refused out of range (allowed in single-domain mode).
    int Add(const DomainRecord& record);
    int Delete(int index);
    int Set(int index, const DomainRecord& record);
    int Get(int index, DomainRecord& out) const;
    int GetCount() const { return static_cast<int>(records_.size()); }
    // Index of the first record whose name equals `name` without regard to
    // case, or -1.
    int Find(std::string_view name) const;
    int mode() const { return mode_; }
    const std::vector<DomainRecord>& records() const { return records_; }
    bool operator==(const DomainTable&) const = default;

    // Reads the table from the config.ini of the current settings. A mode
    // of kModeFromSettings takes [System] DomainNameType of the current
    // settings. Returns 1.
    int Load(int mode);
    // Writes the table to config.ini (and, in single-domain mode, the name
    // to the settings' Dominame and to QuorvexCOM.ini), then reloads the
    // domain table of the published settings. Returns 1 when written, 0
    // when config.ini could not be written.
    int Save() const;

    // The pure halves of Load and Save, used by the settings loader and
    // saver so that all of config.ini goes through one read and one atomic
    // rewrite. `settings` gives DomainNameType (for kModeFromSettings),
    // Dominame (single-domain name) and DefaultVolume (default size).
    void LoadFrom(const IniDocument& config, int mode, const CServerSettings& settings);
    // Writes the keys into `config`; in single-domain mode copies the name
    // into `settings`' Dominame. False when a value was refused by the
    // document (a name holding CR or LF): that key is left unwritten.
    bool WriteTo(IniDocument& config, CServerSettings& settings) const;
    // Adds to `refused` the numbers of both tables' keys in `config` (the
    // file `file`) that are not what they take: the limits of the single
    // domain and of every listed domain ([DomainName] Count may be any
    // whole number; it is clamped when read).
    static void CheckNumbers(const IniDocument& config, const std::string& file, std::vector<std::string>& refused);
    // Writes [system] Dominame of QuorvexCOM.ini in single-domain mode.
    bool WriteComIni(const std::string& program_folder) const;

private:
    std::vector<DomainRecord> records_;
    int mode_ = kSingleDomain;
};

}  // namespace quorvex
