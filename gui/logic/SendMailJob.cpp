#include "gui/logic/SendMailJob.h"

#include <unistd.h>

#include <optional>
#include <thread>

#include "common/Paths.h"
#include "common/TemporaryFile.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/store/MailStore.h"
#include "servers/delivery/LocalDelivery.h"

namespace quorvex::gui {

namespace {

constexpr const char* kMailer = "QuorvexServer 5.3";
constexpr const char* kTag = "AdminSend";
constexpr std::size_t kWorkers = 4;

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string ComposeFolder(const std::string& program_folder) { return JoinPath(program_folder, "smtp"); }

// A private, empty file in the queue folder for the composed message,
// removed when the job ends. Holds no file when it cannot be made.
TemporaryFile ComposeFile(const std::string& folder) {
    MakeFolders(folder);
    TemporaryFile file = TemporaryFile::Create(JoinPath(folder, "tempMail-XXXXXX"));
    file.fd().reset();  // the composer writes it by name
    return file;
}

}  // namespace

std::vector<std::string> ParseRecipients(std::string_view text, bool single_domain, std::string_view domain) {
    std::vector<std::string> addresses;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        const std::string_view piece = Trimmed(text.substr(start, end - start));
        if (!piece.empty()) {
            std::string address(piece);
            if (single_domain && address.find('@') == std::string::npos) address.append("@").append(domain);
            addresses.push_back(std::move(address));
        }
        start = end + 1;
    }
    return addresses;
}

SendMailJob::SendMailJob(DeliveryDirectory& directory, const AccountList& accounts, SendMailRequest request)
    : directory_(directory), request_(std::move(request)) {
    if (!request_.all_accounts) {
        targets_ = request_.recipients;
        return;
    }
    for (const std::string& name : accounts.Names()) {
        if (accounts.IsGroup(name) == 0) targets_.push_back(name);
    }
}

SendMailResult SendMailJob::Run(std::atomic<int>& done, std::stop_token stop) {
    SendMailResult result;
    for (const std::string& path : request_.attachments) {
        // The composer would attach an unreadable file as an empty part,
        // and it splits its list at ";".
        if (path.find(';') != std::string::npos || ::access(path.c_str(), R_OK) != 0) {
            result.compose_error = path;
            return result;
        }
    }
    std::string attachments;
    for (const std::string& path : request_.attachments) attachments += path + ";";
    const std::string folder = ComposeFolder(request_.program_folder);
    const TemporaryFile file = ComposeFile(folder);
    // The composer declares the language's charset when the texts fit it, UTF-8 otherwise.
    compose::CMessageGenerator generator;
    if (!file.holds_file() ||
        generator.GenerateMail(file.path().c_str(), request_.body.c_str(), request_.subject.c_str(), attachments.c_str(),
                               kMailer, request_.sender.c_str(), request_.to_header.c_str(), nullptr, nullptr,
                               nullptr, 0, 0) == 0) {
        result.compose_error = file.holds_file() ? file.path() : folder;
        return result;
    }
    // Each mailbox has its own lock and every store waits for the disk, so
    // a few workers store side by side; refusals keep the receivers' order.
    const std::size_t count = targets_.size();
    std::vector<std::optional<std::string>> refusals(count);
    std::vector<char> handled(count, 0);  // each slot written by one worker
    std::atomic<std::size_t> next{0};
    std::atomic<bool> cancelled{false};
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            if (stop.stop_requested()) {
                cancelled = true;
                return;
            }
            const std::string& target = targets_[i];
            if (request_.all_accounts) {
                if (!AddMessageToMailbox(target, file.path(), nullptr, 0, true, false)) {
                    refusals[i] = "the mailbox could not store the message";
                }
            } else {
                std::string reply;
                if (!DeliverToRecipient(directory_, &reply, kTag, target, request_.sender, file.path(), nullptr, 1)) {
                    refusals[i] = reply.empty() ? std::string("the message could not be stored") : reply;
                }
            }
            handled[i] = 1;
            done.fetch_add(1, std::memory_order_relaxed);
        }
    };
    {
        std::vector<std::jthread> workers;
        const std::size_t helpers = std::min<std::size_t>(kWorkers, count) - (count > 0 ? 1 : 0);
        for (std::size_t w = 0; w < helpers; ++w) workers.emplace_back(work);
        if (count > 0) work();
    }
    result.cancelled = cancelled;
    for (std::size_t i = 0; i < count; ++i) {
        if (refusals[i]) {
            result.refused.push_back({targets_[i], *refusals[i]});
        } else if (handled[i]) {
            ++result.delivered;
        }
    }
    return result;
}

}  // namespace quorvex::gui
