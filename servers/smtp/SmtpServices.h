// What an SMTP session needs from the rest of the server: settings, the
// account store, local delivery, logging and the virus scanner. The real
// server wires these to its subsystems (SmtpServerServices); tests give the
// session fakes, so every dialogue runs without a socket or a disk layout.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/AddressClass.h"
#include "common/ServerSettings.h"
#include "servers/delivery/DeliveryMessage.h"
#include "servers/delivery/LocalDelivery.h"
#include "servers/address/AddressRules.h"
#include "servers/logins/LoginChecks.h"

namespace quorvex::smtp {

// Address classes (see ClassifyAddress of the server).
inline constexpr int kAddressLocalAccount = ADDRESS_LOCAL_ACCOUNT;
inline constexpr int kAddressRemote = ADDRESS_REMOTE;
inline constexpr int kAddressLocalUnknown = ADDRESS_LOCAL_UNKNOWN;

struct DeliveryOutcome {
    bool delivered = false;
    std::string reply;  // the refusal line for the client, may be empty
    bool sent_copy_failed = false;
    std::string sent_copy_id;  // the unique id of the sender's own copy
};

class SmtpServices {
public:
    virtual ~SmtpServices() = default;

    virtual std::shared_ptr<const CServerSettings> Settings() = 0;

    virtual int ClassifyAddress(std::string_view address) = 0;
    // AUTH LOGIN's checks: kAccepted when the account exists, is enabled,
    // is not a group and the password (or its stored digest) matches; the
    // lock of a guessing address; the report of a failure.
    virtual LoginChecks& Logins() = 0;
    // True for a listed account (the one a web-mail HELO names).
    virtual bool AccountExists(std::string_view account) = 0;
    // The account's Internet (contact) address, empty when none.
    virtual std::string AccountInterMail(std::string_view account) = 0;

    // A fresh path for a received message that needs a spool file:
    // temp_smtp_<n>.dat in the queue folder, numbered by the queue counter.
    virtual std::string NewTempMessagePath() = 0;

    virtual void Log(std::string_view peer, std::string_view text) = 0;

    // Replaces the file with its scanned text when a scanner is reachable.
    virtual void ScanForViruses(const std::string& path) = 0;
    // The refusal local delivery would give `recipient` for this message
    // (disabled, index full, too big, over quota); nullopt when none.
    virtual std::optional<std::string> Refusal(std::string_view recipient, DeliveryMessage& message) = 0;
    // Local delivery of the message to every recipient and copy as one
    // (DeliverToAll, depth 1); a sender's copy asked for goes into the
    // account's second folder with the others.
    virtual DeliveryOutcome Deliver(const DeliveryRequest& request, DeliveryMessage& message) = 0;
    // The account's auto-reply to the sender of the message.
    virtual void SendAutoReply(std::string_view account, std::string_view sender, DeliveryMessage& message) = 0;
};

}  // namespace quorvex::smtp
