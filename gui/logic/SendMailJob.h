// The administrator's mail: a message composed once into a private file of
// the queue folder, then delivered to each address the way the SMTP server
// delivers (local accounts, forwarding, groups, filters; other addresses
// go to the outgoing queue), or stored straight into every account's inbox
// ("All"). It runs away from the window's thread; the window shows its
// progress and, at the end, every address that was refused and why.
#pragma once

#include <atomic>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {
class AccountList;
class DeliveryDirectory;
}  // namespace quorvex

namespace quorvex::gui {

// The recipient text "a;b@x; c;" as addresses: pieces split at ";",
// blanks trimmed, empty pieces skipped; in single-domain mode a piece
// without "@" gets "@" and `domain`.
std::vector<std::string> ParseRecipients(std::string_view text, bool single_domain, std::string_view domain);

struct SendMailRequest {
    // The program folder: the message is composed in its queue folder.
    std::string program_folder;
    // UTF-8, as typed; the message carries them in the language's charset
    // where they fit it, else in UTF-8, and declares which.
    std::string sender;
    std::string subject;
    std::string body;
    std::vector<std::string> attachments;  // file paths
    bool all_accounts = false;             // every account that is not a group
    std::vector<std::string> recipients;   // addresses, when not all_accounts
    std::string to_header;                 // the To field: "a@x;b@x;"
};

struct RefusedRecipient {
    std::string address;
    std::string reply;  // the SMTP reply, or a short reason
};

struct SendMailResult {
    // Empty when the message was composed; else why not (nothing was sent).
    std::string compose_error;
    int delivered = 0;
    std::vector<RefusedRecipient> refused;
    bool cancelled = false;
};

class SendMailJob {
public:
    // With `all_accounts` the job goes to every account of `accounts` that
    // is not a group, as listed now.
    SendMailJob(DeliveryDirectory& directory, const AccountList& accounts, SendMailRequest request);

    // How many deliveries the job makes (accounts or addresses).
    int Total() const { return static_cast<int>(targets_.size()); }

    // Composes and delivers (a few deliveries side by side). `done` counts
    // finished deliveries; a stop request ends the job between deliveries.
    SendMailResult Run(std::atomic<int>& done, std::stop_token stop = {});

private:
    DeliveryDirectory& directory_;
    SendMailRequest request_;
    std::vector<std::string> targets_;
};

}  // namespace quorvex::gui
