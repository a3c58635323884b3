// The queue's retry limits and report routes.
#include "servers/queue/RetryPolicy.h"

#include "servers/address/AddressRules.h"
#include "servers/outgoing/BounceMessage.h"

namespace quorvex {

bool ShouldRetry(outgoing::DeliveryResult result, int times, int max_tries) {
    return result == outgoing::DeliveryResult::kFailedTemporary && times < max_tries;
}

ReportRoute RouteOfReport(std::string_view sender, int sender_class) {
    if (outgoing::IsBounceSender(sender)) return ReportRoute::kNoReport;
    switch (sender_class) {
        case ADDRESS_LOCAL_ACCOUNT:
            return ReportRoute::kLocalMailbox;
        case ADDRESS_REMOTE:
            return ReportRoute::kOutgoing;
        default:
            return ReportRoute::kPark;
    }
}

}  // namespace quorvex
