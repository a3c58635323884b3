// What the outgoing queue does after a failed attempt, as pure rules: how
// often an item is tried, and where the report of an item given up goes.
// The record reading and writing around them is in SenderThreads.cpp.
#pragma once

#include <string_view>

#include "servers/outgoing/SmtpClientText.h"

namespace quorvex {

// True when an item whose attempt number `times` (from 1) failed with
// `result` gets another attempt: a temporary failure until "MaxTries"
// attempts in all were made, a permanent one never.
bool ShouldRetry(outgoing::DeliveryResult result, int times, int max_tries);

// Where the non-delivery report of an item given up goes.
enum class ReportRoute {
    kNoReport,      // a report itself, or mail without a sender: the message is parked
    kLocalMailbox,  // the sender is a local account
    kOutgoing,      // the sender is outside: the report is queued
    kPark,          // the sender is local but unknown: the report is parked
};

// `sender_class` as ClassifyAddress gives it.
ReportRoute RouteOfReport(std::string_view sender, int sender_class);

}  // namespace quorvex
