// The per-client limit of new accounts.
#include "accountserver/SignUpLimit.h"

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
    : limit_(std::exchange(other.limit_, nullptr)), client_(std::move(other.client_)), at_(other.at_) {}

SignUpLimit::Reservation& SignUpLimit::Reservation::operator=(Reservation&& other) noexcept {
    if (this != &other) {
        if (limit_ != nullptr) limit_->signups_.TakeBack(client_, at_);
        limit_ = std::exchange(other.limit_, nullptr);
        client_ = std::move(other.client_);
        at_ = other.at_;
    }
    return *this;
}

SignUpLimit::Reservation::~Reservation() {
    if (limit_ != nullptr) limit_->signups_.TakeBack(client_, at_);
}

SignUpLimit::SignUpLimit(SignUpLimitOptions options)
    : options_(std::move(options)),
      signups_({.limit = options_.max_accounts,
                .window = options_.window,
                .capacity = options_.max_addresses,
                .now = options_.now,
                .secret = std::nullopt}) {}

SignUpLimit::Reservation SignUpLimit::Reserve(const ClientSource& client, std::string_view account) {
    const ClientCounter::Count count = signups_.Add(client);
    if (count.result != ClientCounter::Result::kClosed) return Reservation(this, client, count.at);
    std::string line = SignUpRefusedLine(client, account, options_.max_accounts, options_.window);
    if (count.by_network) line += NetworkCountNote(client.address, signups_.options().capacity);
    if (options_.log) {
        options_.log(line);
    } else {
        WriteSystemLogAndStderr(line);
    }
    return {};
}

void SignUpLimit::Clear() { signups_.Clear(); }

SignUpLimit& ProcessSignUpLimit() {
    static SignUpLimit limit([] {
        SignUpLimitOptions options;
        options.max_addresses = ProcessClientTableCapacity();
        return options;
    }());
    return limit;
}

}  // namespace quorvex::accountserver
