// Message bodies on their way into a mailbox: written and flushed under
// their final name "<number>.eml", with a number reserved for them, before
// the mailbox is locked, so that the commit only writes the index. And the
// sweep, when a mailbox is first opened, of what interrupted stores and
// commits left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

struct Mailbox;

// What a body is made from: the message text in memory, or a file.
struct BodySource {
    std::string_view text;
    const std::string* path = nullptr;  // when set, the text is read from here
};

// A body written under a reserved number. Removed when its owner goes,
// unless kept (its store failed or was refused: the index never named it),
// and its number given back.
class StagedBody {
public:
    StagedBody() = default;
    StagedBody(const StagedBody&) = delete;
    StagedBody& operator=(const StagedBody&) = delete;
    ~StagedBody();

    // Reserves a number in the mailbox and writes the body under it
    // (every byte XOR-ed with `key`, 0 for none), flushed. False when no
    // number or file could be had, or a read, write or flush failed.
    bool Write(Mailbox& box, const std::string& folder, const BodySource& source, std::uint8_t key);

    std::int32_t number() const { return number_; }
    // The index names it now: it stays.
    void Keep() {
        path_.clear();
        number_ = 0;
    }

private:
    Mailbox* box_ = nullptr;
    std::string folder_;
    std::string path_;
    std::int32_t number_ = 0;
};

// The body number a file name gives ("17.eml": 17); nothing for any other
// name (leading zeros, signs, other endings, numbers past 32 bits).
std::optional<std::int32_t> BodyNumberOf(std::string_view name);

// Removes, from the folder of a mailbox this process opens for the first
// time, what interrupted writers left: bodies that the index it read
// explains as such (numbered above its last number: a store that was
// never committed; named by a free slot: a deletion whose index was
// written but whose body was not yet removed), temporary copies of the
// index, and staged bodies of the older ".incoming-" kind that no living
// writer holds. A listed body, and any body nothing explains, is never
// touched; so are all numbered files when `read_index` is null (the index
// was just made), when the folder holds a damaged index set aside, or
// messages of the old list format still to be moved in. Logs how many
// files went, and how many bodies nothing explains were kept.
void SweepLeftovers(const std::string& folder, const MailboxIndexFile* read_index);

}  // namespace quorvex::store
