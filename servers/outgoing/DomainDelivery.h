// Delivery of one queued message to one recipient at another mail server:
// the domain's mail exchangers from the system's own DNS client (or the
// configured relay server), tried in the order of the answer until one
// accepts the message.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerSettings.h"
#include "servers/outgoing/SmtpClientSession.h"
#include "servers/outgoing/SmtpClientText.h"

namespace quorvex::outgoing {

// Where and how delivery goes; DeliveryOptionsFromSettings gives the
// production values, tests change ports and servers.
struct DomainDeliveryOptions {
    std::shared_ptr<const CServerSettings> settings;
    int smtp_port = kDefaultSmtpPort;  // of mail exchangers (a relay uses "RelayPort")
    int dns_port = 53;
    int dns_wait_ms = 2000;
    // Asked after "DNS" and "DNSSecondary" gave nothing.
    std::vector<std::string> fallback_dns_servers{kDefaultDnsServer, kDefaultDnsSecondary};
    SmtpClientOptions client;  // the relay login is filled in from the settings
};

// [System] "SocketIdleTimeout" (minutes, default 10) of the settings' config.ini;
// the default for a value outside 1 to 525600.
int SocketIdleTimeoutMinutes(const CServerSettings& settings);

DomainDeliveryOptions DeliveryOptionsFromSettings(std::shared_ptr<const CServerSettings> settings);

// The host list ("host preference" lines joined by CR LF) for a domain:
// the relay alone, or the MX answer, or the domain itself when no server
// named any mail exchanger.
std::string MailHostList(std::string_view domain, const DomainDeliveryOptions& options);

// Sends `file` to `recipient`. kDelivered with outcome "SUCCESS"; otherwise
// kFailedTemporary or kFailedPermanent with the reason in `outcome`. A host that
// accepted the data has the message, whatever happens to its QUIT.
DeliveryResult DeliverToDomain(std::string_view recipient, std::string_view sender, const std::string& file,
                    std::string& outcome, const DomainDeliveryOptions& options);

// The same with the current settings.
DeliveryResult DeliverToDomain(std::string_view recipient, std::string_view sender, const std::string& file,
                    std::string& outcome);

}  // namespace quorvex::outgoing
