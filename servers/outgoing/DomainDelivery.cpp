// Domain delivery over the SMTP client.
#include "servers/outgoing/DomainDelivery.h"

#include <algorithm>
#include <climits>

#include "common/AsciiCase.h"
#include "common/ProfileFile.h"
#include "common/SettingRanges.h"
#include "common/Translation.h"
#include "servers/dns/DnsResolver.h"
#include "servers/outgoing/BounceMessage.h"

namespace quorvex::outgoing {

namespace {

constexpr int kDefaultIdleMinutes = 10;

// A server's refusal says more than a later host's silence: a time-out
// does not replace an error already recorded.
void KeepError(HostFailure& last_error, const HostFailure& error) {
    if (error.kind == HostFailureKind::kTimedOut && !last_error.empty()) return;
    last_error = error;
}

}  // namespace

int SocketIdleTimeoutMinutes(const CServerSettings& settings) {
    return NumberOrDefault(*ProfileFile(settings.ConfigIni()).Load(), "System", "SocketIdleTimeout",
                           kDefaultIdleMinutes, kMinutesRange);
}

DomainDeliveryOptions DeliveryOptionsFromSettings(std::shared_ptr<const CServerSettings> settings) {
    DomainDeliveryOptions options;
    // One slice a second; the product is taken in 64 bits.
    const long long slices = static_cast<long long>(SocketIdleTimeoutMinutes(*settings)) * 60;
    options.client.timeouts = SocketTimeouts{1000, static_cast<int>(std::min<long long>(slices, INT_MAX))};
    options.client.proxy = OutgoingProxy(*settings);
    options.settings = std::move(settings);
    return options;
}

std::string MailHostList(std::string_view domain, const DomainDeliveryOptions& options) {
    const CServerSettings& settings = *options.settings;
    if (settings.MailRelayTo != 0) return settings.RelayServer + " 10";
    std::vector<std::string> servers{settings.DNS.empty() ? std::string(kDefaultDnsServer) : settings.DNS,
                                     settings.DNSSecondary.empty() ? std::string(kDefaultDnsSecondary)
                                                                   : settings.DNSSecondary};
    servers.insert(servers.end(), options.fallback_dns_servers.begin(), options.fallback_dns_servers.end());
    DnsResolverOptions dns = DnsOptionsFromSettings(settings);
    dns.server_port = options.dns_port;
    dns.reply_wait_ms = options.dns_wait_ms;
    std::string list;
    for (const std::string& server : servers) {
        DnsResolver resolver(dns);
        std::string answer;
        if (resolver.Query(domain, answer, server) == DnsResolver::kFound && !answer.empty()) return answer;
    }
    // No mail exchanger named anywhere: the domain is its own mail host.
    return ImplicitMailHost(domain) + " 10";
}

DeliveryResult DeliverToDomain(std::string_view recipient_in, std::string_view sender_in, const std::string& file,
                    std::string& outcome, const DomainDeliveryOptions& options) {
    const CServerSettings& settings = *options.settings;
    const std::string recipient = AsciiLowerCase(recipient_in.substr(0, 1023));
    std::string sender = AsciiLowerCase(sender_in.substr(0, 1023));
    const std::size_t at = recipient.find('@');
    if (at == std::string::npos) {
        outcome = kOutcomeIllegalAddress;
        return kFailedPermanent;
    }
    const std::string domain = recipient.substr(at + 1);
    const std::string host_list = MailHostList(domain, options);
    const bool relay = settings.MailRelayTo != 0;

    SmtpClientOptions client = options.client;
    client.authenticate = relay && settings.ISPSMTPNeedAuth != 0;
    client.user = settings.ISPSMTPUserName;
    client.password = settings.ISPSMTPPassword;

    outcome = kOutcomeCannotConnect;
    HostFailure last_error;
    for (const std::string& host : HostsOfList(host_list)) {
        SmtpClientSession session(client);
        const int port = relay ? settings.RelayPort : options.smtp_port;
        if (!session.Open(host, port, settings.Dominame)) {
            if (session.LastFailure().empty()) outcome = kOutcomeTimeout;
            else KeepError(last_error, session.LastFailure());
            continue;
        }
        if (SendersMustBeLocal(settings) && settings.SendIPEmailAddress != 0 &&
            !EqualsNoCase(sender, kUnknownSenderPlaceholder) && !session.LocalAddress().empty()) {
            // A sender of the recipient's own domain is shown at this
            // server's address instead.
            const std::size_t sender_at = sender.find('@');
            if (sender_at != std::string::npos && sender.substr(sender_at) == recipient.substr(at)) {
                sender = sender.substr(0, sender_at) + "@" + session.LocalAddress();
            }
        }
        if (!session.SendMessage(file, sender, recipient)) {
            outcome = session.LastResponse();
            if (session.LastFailure().kind != HostFailureKind::kTimedOut) last_error = session.LastFailure();
            session.Close();
            continue;
        }
        // The data was accepted: the message is delivered. A missing 221
        // must not send it again to the next host.
        session.Quit(true);
        outcome = kOutcomeSuccess;
        return kDelivered;
    }
    if (last_error.empty()) {
        outcome = FailureOutcome(TranslateText(kOutcomeCannotConnect), domain, host_list);
        return kFailedTemporary;
    }
    outcome = FailureOutcome(TranslateText(last_error.text), domain, host_list);
    return FailureResult(last_error.kind, outcome);
}

DeliveryResult DeliverToDomain(std::string_view recipient, std::string_view sender, const std::string& file,
                    std::string& outcome) {
    return DeliverToDomain(recipient, sender, file, outcome, DeliveryOptionsFromSettings(Settings()));
}

}  // namespace quorvex::outgoing
