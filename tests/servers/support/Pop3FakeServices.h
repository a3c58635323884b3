// An in-memory stand-in for the server around a POP3 session: a few
// accounts, one mailbox whose message files live in a test folder, and a
// record of everything the session asked for (log lines, commits, queued
// collections). Also a string output that collects what the session sends.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "common/AtomicFile.h"
#include "servers/pop3/Pop3Mailbox.h"
#include "servers/pop3/StoredMessage.h"

namespace quorvex::testing {

class StringOutput : public pop3::Pop3Output {
public:
    bool Send(std::string_view bytes) override {
        if (fail_) return false;
        text += bytes;
        return true;
    }
    std::string Take() { return std::exchange(text, {}); }
    void FailFromNowOn() { fail_ = true; }
    std::string text;

private:
    bool fail_ = false;
};

struct FakeAccount {
    std::string Password;
    bool Disabled = false;
    bool Group = false;
    int Permission = 0;
    std::uint64_t Quota = pop3::kNoQuota;
};

class FakeServices : public pop3::Pop3Services, public LoginChecks {
public:
    explicit FakeServices(std::string folder) : folder_(std::move(folder)) {}

    // Adds a message to folder f; its file holds `bytes` scrambled with `key`.
    void AddMessage(int folder, std::string_view bytes, std::uint32_t uid, std::uint16_t flags = 0) {
        pop3::Pop3Message m;
        m.FileNumber = next_file_++;
        m.Uid = uid;
        m.Size = static_cast<std::uint32_t>(bytes.size());
        m.Flags = flags;
        m.Folder = static_cast<std::uint16_t>(folder);
        std::string stored(bytes);
        for (char& c : stored) c = static_cast<char>(c ^ static_cast<char>(key));
        AtomicWriteFile(MessagePath("", m.FileNumber), stored);
        auto& list = folder == 0 ? inbox_ : second_;
        list.push_back(m);
    }

    AccountPresence AccountExists(std::string_view name) override {
        if (!name.empty() && name[0] == '_') return AccountPresence::kReserved;
        return accounts.count(std::string(name)) ? AccountPresence::kListed : AccountPresence::kMissing;
    }
    LoginChecks& Logins() override { return *this; }
    LoginOutcome Check(std::string_view name, std::string_view password) override {
        checked.emplace_back(name);
        auto it = accounts.find(std::string(name));
        if (it == accounts.end()) return LoginOutcome::kUnknownAccount;
        if (it->second.Password != password) return LoginOutcome::kWrongPassword;
        if (it->second.Disabled) return LoginOutcome::kDisabled;
        if (it->second.Group) return LoginOutcome::kNotPermitted;
        return LoginOutcome::kAccepted;
    }
    bool Locked(const ClientSource& client) override { return locked.count(client.address) != 0; }
    void Failed(const ClientSource& client, std::string_view name, LoginOutcome outcome) override {
        failed_logins.push_back(client.address + " " + std::string(name) + " " +
                                std::string(LoginOutcomeName(outcome)));
    }
    bool IsDisabled(std::string_view name) override { return accounts[std::string(name)].Disabled; }
    bool IsGroup(std::string_view name) override { return accounts[std::string(name)].Group; }
    int Permission(std::string_view name) override { return accounts[std::string(name)].Permission; }
    std::uint64_t QuotaBytes(std::string_view name) override { return accounts[std::string(name)].Quota; }
    std::string StoredName(std::string_view name) override {
        const auto found = stored_names.find(std::string(name));
        return found == stored_names.end() ? std::string(name) : found->second;
    }

    bool LoadMailbox(std::string_view, pop3::Pop3Mailbox& mailbox) override {
        if (fail_load) return false;
        mailbox = {};
        for (const auto* list : {&inbox_, &second_}) {
            const std::size_t f = list == &inbox_ ? 0 : 1;
            for (const auto& m : *list) {
                mailbox.Messages.push_back(m);
                ++mailbox.Counts[f];
                mailbox.Bytes[f] += m.Size;
            }
        }
        return true;
    }
    bool CommitMailbox(std::string_view, const pop3::Pop3Mailbox& mailbox) override {
        if (fail_commit) return false;
        committed.push_back(mailbox);
        std::vector<pop3::Pop3Message> in, second;
        for (const auto& m : mailbox.Messages) {
            if (m.Changes == pop3::kChangeDeleteOnly) continue;
            pop3::Pop3Message kept = m;
            int folder = m.Folder;
            if (m.Changes & pop3::kChangeMoveBit) folder = m.MoveTarget;
            kept.Folder = static_cast<std::uint16_t>(folder);
            kept.Changes = 0;
            (folder == 0 ? in : second).push_back(kept);
        }
        inbox_ = in;
        second_ = second;
        return true;
    }
    std::string MessagePath(std::string_view, std::int32_t file_number) override {
        return JoinPath(folder_, std::to_string(file_number) + ".eml");
    }
    std::uint8_t StoreKey(std::string_view) override { return key; }
    std::string UidText(std::string_view account, std::uint32_t uid) override {
        return std::string(account) + ".example.com.quorvexserver." + std::to_string(uid);
    }
    void RecordVisit(std::string_view account) override { visits.emplace_back(account); }
    void MarkReceiptRead(std::string_view, const std::string& path, std::uint8_t) override {
        receipts.push_back(path);
    }
    int QueueRemoteCollection(std::string_view account) override {
        queued.emplace_back(account);
        return queued.size() == 1 ? 0 : -1;
    }
    void Log(std::string_view source, std::string_view text) override {
        log.push_back(std::string(source) + " " + std::string(text));
    }
    std::optional<std::string> ResolveHost(std::string_view host) override {
        auto it = hosts.find(std::string(host));
        if (it == hosts.end()) return std::nullopt;
        return it->second;
    }

    std::map<std::string, FakeAccount> accounts;
    std::map<std::string, std::string> stored_names;  // lower-cased -> the listed spelling, where it differs
    std::map<std::string, std::string> hosts;
    std::uint8_t key = 0x3C;  // stored files are scrambled
    bool fail_load = false;
    bool fail_commit = false;
    std::vector<pop3::Pop3Mailbox> committed;
    std::vector<std::string> visits, receipts, queued, log;
    std::set<std::string> locked;                // addresses whose logins are refused
    std::set<std::string> webmail_peers;         // connections whose forwarded addresses count
    std::vector<std::string> checked;            // names the password check ran for
    std::vector<std::string> failed_logins;      // "address name outcome"
    std::vector<pop3::Pop3Message> inbox_, second_;

private:
    std::string folder_;
    std::int32_t next_file_ = 1;
};

}  // namespace quorvex::testing
