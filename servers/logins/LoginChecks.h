// What a protocol session needs for its logins: the password check, the
// lock of an address that keeps guessing, and the report of a failure. The
// SMTP and POP3 sessions reach it through their services; the running
// program's checks are AccountLoginChecks, tests give fakes.
#pragma once

#include <string>
#include <string_view>

#include "servers/logins/AccountLogin.h"
#include "servers/logins/LoginGuard.h"

namespace quorvex {

class LoginChecks {
public:
    virtual ~LoginChecks() = default;
    // Any name may come here, listed or not: the check costs the same for
    // every one.
    virtual LoginOutcome Check(std::string_view account, std::string_view password) = 0;
    // True while logins of the client are refused without a check.
    virtual bool Locked(const ClientSource& client) = 0;
    // Logs a failed login and counts it against the client.
    virtual void Failed(const ClientSource& client, std::string_view account, LoginOutcome outcome) = 0;
};

// The account list's check (groups refused) and the process's guard, the
// failures logged under one service name.
class AccountLoginChecks final : public LoginChecks {
public:
    explicit AccountLoginChecks(std::string_view service) : service_(service) {}

    LoginOutcome Check(std::string_view account, std::string_view password) override {
        return CheckAccountLogin(account, password);
    }
    bool Locked(const ClientSource& client) override { return ProcessLoginGuard().IsLocked(client); }
    void Failed(const ClientSource& client, std::string_view account, LoginOutcome outcome) override {
        ProcessLoginGuard().RecordFailure(service_, client, account, outcome);
    }

private:
    std::string service_;
};

}  // namespace quorvex
