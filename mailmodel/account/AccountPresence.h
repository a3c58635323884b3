// What the account list says of a name, as AccountExists answers.
#pragma once

namespace quorvex {

enum class AccountPresence {
    kReserved,  // "_..." or "All": never an account
    kMissing,   // no listed account of the current domain mode
    kListed,
};

}  // namespace quorvex
