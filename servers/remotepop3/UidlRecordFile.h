// "Pop3uidl.ini" of an account: the unique ids of messages already
// collected from its remote POP3 boxes, so that no run fetches a message
// twice. A first line "%06d\r\n" names the next slot; then a ring of 10241
// fixed 164-byte records (fetch time, local id and remote id, TAB-separated,
// NUL-padded, CR LF), the oldest overwritten first.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_set>

namespace quorvex::remotepop3 {

inline constexpr std::size_t kUidlHeaderSize = 8;
inline constexpr std::size_t kUidlRecordSize = 164;
inline constexpr int kUidlRingSlots = 10241;
inline constexpr std::size_t kUidlTextLength = 70;
inline constexpr std::string_view kUidlFileName = "Pop3uidl.ini";

// The 164 bytes of one record.
std::string EncodeUidlRecord(std::time_t fetched, std::string_view local_id, std::string_view uid);

// The form a remote id takes in the file. RFC 1939 ids are at most 70
// characters and kept as they are; a longer id (a non-conforming server)
// is kept as its first 37 characters, "~" and the MD5 of the whole id, so
// that it is still recognised at the next run instead of fetched again.
std::string StoredUidForm(std::string_view uid);

class UidlRecordFile {
public:
    explicit UidlRecordFile(std::string path) : path_(std::move(path)) {}

    // Reads every recorded id. A missing file is empty; a damaged record
    // (short file, missing separators) is skipped, never trusted.
    void Load();

    // Ids compare exactly: two ids differing in case name two messages.
    bool Contains(std::string_view uid) const;

    // Writes the next record, then the slot counter, each flushed to disk:
    // a crash leaves either the old state or the new record (a lost counter
    // update only means the record is written again). False when the file
    // cannot be opened, created or written.
    bool Record(std::string_view uid, std::string_view local_id, std::time_t fetched);

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::unordered_set<std::string> ids_;
};

}  // namespace quorvex::remotepop3
