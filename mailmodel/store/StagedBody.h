// Message bodies on their way into a mailbox: written and flushed before
// the mailbox is locked as a file without a name in its folder (or, where
// the file system has no such files, under a staging name), and named
// "<number>.eml" only by the commit that lists them, so that a committed
// body's name is never taken by anything else and whatever a store leaves
// is nothing or a staging name. Not for use outside mailmodel/store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex::store {

// What a body is made from: the message text in memory, or a file.
struct BodySource {
    std::string_view text;
    const std::string* path = nullptr;  // when set, the text is read from here
};

// One body: staged, then committed under its number. Whatever is not kept
// when its owner goes (the staging file, or a committed body whose index
// could not be written) is removed.
class StagedBody {
public:
    StagedBody() = default;
    StagedBody(const StagedBody&) = delete;
    StagedBody& operator=(const StagedBody&) = delete;
    ~StagedBody();

    // Writes the body as a new unnamed file of `folder` (every byte XOR-ed
    // with `key`, 0 for none), flushed; a staging name is held locked
    // against the sweep. False when the file could not be made, read,
    // written or flushed.
    bool Write(const std::string& folder, const BodySource& source, std::uint8_t key);

    // Names the staged body "<number>.eml", never over an existing file:
    // false (errno EEXIST) when a file has that name, or when the link or
    // rename fails. The caller holds the mailbox's lock and flushes the
    // folder before an index lists the body.
    bool Commit(std::int32_t number);
    // The index that was to list the committed body was not written: the
    // body goes again.
    void Uncommit();
    // The index lists it now: it stays.
    void Keep() { kept_ = true; }

    std::int32_t number() const { return number_; }
    bool committed() const { return number_ != 0; }

private:
    std::string folder_;
    std::string staging_;  // the staging name, if it has one; empty once renamed
    std::int32_t number_ = 0;
    bool kept_ = false;
    UniqueFd lock_;  // the staged file, held open (and a staging name locked) until it is named
};

}  // namespace quorvex::store
