// A new index for a mailbox folder that holds message bodies but no
// usable index (one removed, lost with a restore, or damaged and set
// aside by the rebuild command): the bodies found are listed in it rather
// than left for anyone to take for leftovers. Not for use outside
// mailmodel/store.
#pragma once

#include <cstdint>
#include <string>

#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

// Body numbers handed out to stores that have not committed yet: each
// store lists its own body.
struct NumbersInFlight {
    std::int32_t above = 0;
    std::int32_t up_to = 0;
    bool Holds(std::int32_t number) const { return number > above && number <= up_to; }
};

struct BodiesListed {
    int listed = 0;
    int unlisted = 0;  // did not fit (the mailbox is full); left where they are
};

// Lists the folder's regular "<number>.eml" bodies in the new, empty
// `index`: in folder 0, in number order (the order they came in), unread,
// each with its file size and its number as UID (the one it was given
// when the two advanced together). Its last numbers continue after every
// numbered file in the folder, so no new body takes the name of one. A
// folder with messages of the old list format still to be moved in lists
// none of them.
BodiesListed ListBodiesInNewIndex(const std::string& folder, MailboxIndexFile& index, NumbersInFlight in_flight);

// Messages of the old list format wait in "<number>.eml" files that the
// upgrade moves into the mailbox; the settings file lists them in [List].
bool HoldsOldFormatMessages(const std::string& folder);

}  // namespace quorvex::store
