// Who an address belongs to, as ClassifyAddress decides it: every layer
// that asks (the servers, the message summary's sender check) reads the
// answer through these names.
#pragma once

namespace quorvex {

enum AddressClass : int {
    ADDRESS_LOCAL_UNKNOWN = -1,  // no "@", or a local domain without that account
    ADDRESS_REMOTE = 0,          // a domain not served here
    ADDRESS_LOCAL_ACCOUNT = 1,   // an existing local account
};

}  // namespace quorvex
