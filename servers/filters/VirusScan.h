// The virus-scan hand-off: a received message file goes through an outside
// anti-virus product that works as a POP3 proxy. We log in to it as
// "_ANTI_VIRUS" with the file's path as password and fetch message 1; the
// proxy fetches the file from our own POP3 server, scans it on the way and
// returns the cleaned text, which replaces the file. Any failure leaves the
// file as it was: the message is then delivered unscanned.
#pragma once

#include <string>

#include "common/ServerSettings.h"
#include "common/net/SocketIo.h"

namespace quorvex {

// One hand-off at a time, process-wide. Only ever replaces `path` itself,
// through a work file beside it.
void ScanMailForViruses(const std::string& path, const CServerSettings& settings,
                        const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

}  // namespace quorvex
