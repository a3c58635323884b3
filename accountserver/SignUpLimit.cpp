// The per-client limit of new accounts.
#include "accountserver/SignUpLimit.h"

#include <algorithm>
#include <utility>

#include "servers/logs/ServerLogs.h"

namespace quorvex::accountserver {

std::string SignUpRefusedLine(const ClientSource& client, std::string_view account, int accounts,
                              std::chrono::seconds window) {
    std::string line = "sign-up refused:";
    AppendClientFields(line, client);
    line += " account=";
    AppendVisible(line, account);
    line += " accounts=" + std::to_string(accounts) + " within=" + std::to_string(window.count()) + "s";
    return line;
}

SignUpLimit::Reservation::Reservation(Reservation&& other) noexcept
    : limit_(std::exchange(other.limit_, nullptr)), address_(std::move(other.address_)), at_(other.at_) {}

SignUpLimit::Reservation& SignUpLimit::Reservation::operator=(Reservation&& other) noexcept {
    if (this != &other) {
        if (limit_ != nullptr) limit_->Release(address_, at_);
        limit_ = std::exchange(other.limit_, nullptr);
        address_ = std::move(other.address_);
        at_ = other.at_;
    }
    return *this;
}

SignUpLimit::Reservation::~Reservation() {
    if (limit_ != nullptr) limit_->Release(address_, at_);
}

SignUpLimit::SignUpLimit(SignUpLimitOptions options) : options_(std::move(options)) {}

SignUpLimit::Reservation SignUpLimit::Reserve(const ClientSource& client, std::string_view account) {
    const Clock::time_point now = options_.now ? options_.now() : Clock::now();
    {
        std::lock_guard lock(mutex_);
        auto& times = entries_[client.address];
        while (!times.empty() && times.front() + options_.window <= now) times.pop_front();
        if (static_cast<int>(times.size()) < options_.max_accounts) {
            times.push_back(now);
            if (entries_.size() > options_.max_addresses) Prune(now);
            return Reservation(this, client.address, now);
        }
    }
    const std::string line = SignUpRefusedLine(client, account, options_.max_accounts, options_.window);
    if (options_.log) {
        options_.log(line);
    } else {
        WriteSystemLogAndStderr(line);
    }
    return {};
}

void SignUpLimit::Release(const std::string& address, Clock::time_point at) {
    std::lock_guard lock(mutex_);
    const auto entry = entries_.find(address);
    if (entry == entries_.end()) return;
    auto& times = entry->second;
    if (const auto it = std::find(times.begin(), times.end(), at); it != times.end()) times.erase(it);
    if (times.empty()) entries_.erase(entry);
}

void SignUpLimit::Prune(Clock::time_point now) {
    std::erase_if(entries_, [&](const auto& item) {
        return item.second.empty() || item.second.back() + options_.window <= now;
    });
    // Still too many: forget the addresses whose last sign-up is oldest.
    while (entries_.size() > options_.max_addresses) {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.back() < oldest->second.back()) oldest = it;
        entries_.erase(oldest);
    }
}

void SignUpLimit::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

SignUpLimit& ProcessSignUpLimit() {
    static SignUpLimit limit;
    return limit;
}

}  // namespace quorvex::accountserver
