// An in-memory stand-in for the server around an SMTP session: accounts,
// address classes, deliveries and log lines are plain containers that a
// test fills and reads back.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpServices.h"

namespace quorvex::testing {

struct RecordedDelivery {
    std::string tag, recipient, sender, bytes;
};

class FakeSmtpServices : public smtp::SmtpServices, public LoginChecks {
public:
    explicit FakeSmtpServices(std::string folder) : folder_(std::move(folder)) {
        settings.Dominame = "example.test";
    }

    CServerSettings settings;
    std::map<std::string, int> classes;  // lower-cased address -> class; missing -> by domain
    std::map<std::string, std::string> passwords;  // account -> password
    std::map<std::string, std::string> inter_mail;
    std::map<std::string, std::string> refusals;  // recipient -> reply
    std::vector<std::string> webmail_peers{"127.0.0.1"};
    std::vector<RecordedDelivery> deliveries;
    std::vector<std::string> withdrawn;  // recipients whose copies were taken back
    std::vector<std::pair<std::string, std::string>> auto_replies;
    std::vector<std::string> log;
    std::vector<std::string> scanned;
    std::vector<std::pair<std::string, std::string>> sent_copies;
    bool sent_copy_fails = false;
    std::set<std::string> disabled;        // lower-cased accounts
    std::set<std::string> locked;          // addresses whose logins are refused
    std::vector<std::string> failed_logins;  // "address user outcome"
    bool fail_temp_file = false;
    std::function<void(const std::string& path)> scanner;  // rewrites the file as a scanner would

    std::shared_ptr<const CServerSettings> Settings() override {
        return std::make_shared<const CServerSettings>(settings);
    }
    int ClassifyAddress(std::string_view address) override {
        const auto it = classes.find(AsciiLowerCase(address));
        if (it != classes.end()) return it->second;
        const auto at = address.rfind('@');
        if (at == std::string_view::npos) return smtp::kAddressLocalUnknown;
        return SameDomain(address.substr(at + 1)) ? smtp::kAddressLocalUnknown : smtp::kAddressRemote;
    }
    // What the job table decides for a connection from `dotted`.
    bool IsWebMailAddress(std::string_view dotted) const {
        for (const auto& peer : webmail_peers)
            if (peer == dotted) return true;
        return false;
    }
    LoginChecks& Logins() override { return *this; }
    LoginOutcome Check(std::string_view account, std::string_view password) override {
        const auto it = passwords.find(AsciiLowerCase(account));
        if (it == passwords.end()) return LoginOutcome::kUnknownAccount;
        if (it->second != password) return LoginOutcome::kWrongPassword;
        if (disabled.count(AsciiLowerCase(account)) != 0) return LoginOutcome::kDisabled;
        return LoginOutcome::kAccepted;
    }
    bool Locked(const ClientSource& client) override { return locked.count(client.address) != 0; }
    void Failed(const ClientSource& client, std::string_view user, LoginOutcome outcome) override {
        failed_logins.push_back(client.address + " " + std::string(user) + " " +
                                std::string(LoginOutcomeName(outcome)));
    }
    bool AccountExists(std::string_view account) override {
        return passwords.count(AsciiLowerCase(account)) != 0;
    }
    std::string AccountInterMail(std::string_view account) override {
        const auto it = inter_mail.find(std::string(account));
        return it == inter_mail.end() ? std::string() : it->second;
    }
    std::string NewTempMessagePath() override {
        if (fail_temp_file) return JoinPath(folder_, "missing-folder", "x.dat");
        return JoinPath(folder_, "temp_smtp_" + std::to_string(++counter_) + ".dat");
    }
    void Log(std::string_view peer, std::string_view text) override {
        log.push_back(std::string(peer) + " " + std::string(text));
    }
    void ScanForViruses(const std::string& path) override {
        scanned.push_back(path);
        if (scanner) scanner(path);
    }
    // A non-empty refusal is known before delivery; an empty one is a
    // store that fails.
    std::optional<std::string> Refusal(std::string_view recipient, DeliveryMessage&) override {
        const auto it = refusals.find(std::string(recipient));
        if (it == refusals.end() || it->second.empty()) return std::nullopt;
        return it->second;
    }
    // Records each address tried, copies first; a refusal fails the whole
    // delivery and the addresses tried before it count as taken back.
    smtp::DeliveryOutcome Deliver(const DeliveryRequest& request, DeliveryMessage& message) override {
        std::vector<std::string> tried;
        const auto attempt = [&](const std::string& address) {
            deliveries.push_back({std::string(request.tag), address, std::string(request.sender), BytesOf(message)});
            const auto it = refusals.find(address);
            if (it == refusals.end()) {
                tried.push_back(address);
                return std::optional<std::string>();
            }
            return std::optional<std::string>(it->second);
        };
        for (const auto& copy : request.copies) attempt(copy);
        for (const auto& recipient : request.recipients) {
            if (auto refusal = attempt(recipient)) {
                withdrawn.insert(withdrawn.end(), tried.begin(), tried.end());
                return {false, *refusal, false, {}};
            }
        }
        if (request.sent_copy_account.empty()) return {true, {}, false, {}};
        if (sent_copy_fails) {
            withdrawn.insert(withdrawn.end(), tried.begin(), tried.end());
            return {false, {}, true, {}};
        }
        sent_copies.emplace_back(request.sent_copy_account, BytesOf(message));
        return {true, {}, false, request.sent_copy_account + ".example.test.quorvexserver.7"};
    }
    void SendAutoReply(std::string_view account, std::string_view sender, DeliveryMessage&) override {
        auto_replies.emplace_back(account, sender);
    }
    static std::string BytesOf(DeliveryMessage& message) {
        if (const auto text = message.text()) return std::string(*text);
        std::string bytes;
        if (const std::string* path = message.File()) ReadWholeFile(*path, bytes);
        return bytes;
    }

    // The message text as delivered, without the trace header.
    static std::string Body(const std::string& stored) {
        const auto end = stored.find(" SMTP; ");
        return stored.substr(stored.find("\r\n", end) + 2);
    }

private:
    bool SameDomain(std::string_view domain) const {
        return AsciiLowerCase(domain) == AsciiLowerCase(settings.Dominame);
    }
    std::string folder_;
    int counter_ = 0;
};

}  // namespace quorvex::testing
