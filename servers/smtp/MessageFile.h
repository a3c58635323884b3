// A message being received: held in memory while it is small, in a spool
// file (written through a buffer) once it grows past the memory limit or a
// step of delivery asks for a file. The spool file is removed when the
// owner lets go of the message, whatever path the session leaves by.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/TemporaryFile.h"
#include "servers/delivery/DeliveryMessage.h"

namespace quorvex::smtp {

// A message up to this size is received into memory and stored from there
// when it goes only to local mailboxes; a larger one goes to a spool file.
inline constexpr std::size_t kMessageMemoryLimit = 256 * 1024;

class MessageFile final : public DeliveryMessage {
public:
    MessageFile() = default;
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;
    ~MessageFile() override { Discard(); }

    // Starts an empty message. `spool_path` gives the name of a new spool
    // file when one is needed (it must not exist yet).
    void Begin(std::function<std::string()> spool_path, std::size_t memory_limit = kMessageMemoryLimit);
    // Appends bytes; false once any write has failed.
    bool Write(std::string_view bytes);
    // Writes out the buffer of a spool file and closes it, keeping it (until
    // Discard or destruction). False when any write or the close failed.
    bool Finish();
    // Forgets the text and deletes the spool file.
    void Discard();

    // DeliveryMessage
    std::int64_t size() const override;
    std::optional<std::string_view> text() const override;
    const std::string* File() override;
    // ENOSPC or EDQUOT for a full disk.
    int error() const override { return error_; }

private:
    bool Spool();
    bool Flush();
    void Fail(int error);

    static constexpr std::size_t kBufferSize = 64 * 1024;

    std::function<std::string()> spool_path_;
    std::size_t memory_limit_ = kMessageMemoryLimit;
    TemporaryFile file_;
    std::string buffer_;  // the whole text, or what a spool file has still to take
    long long size_ = 0;
    bool spooled_ = false;
    bool finished_ = false;
    int error_ = 0;
};

}  // namespace quorvex::smtp
