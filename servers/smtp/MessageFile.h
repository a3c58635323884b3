// A message being received: a new file written through a buffer, removed
// when the owner lets go of it, whatever path the session leaves by.
#pragma once

#include <string>
#include <string_view>

#include "common/TemporaryFile.h"

namespace quorvex::smtp {

class MessageFile {
public:
    MessageFile() = default;
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;
    ~MessageFile() { Discard(); }

    // Creates the file (owner-only); false when it exists or cannot be made.
    bool Create(std::string path);
    // Appends bytes; false once any write has failed.
    bool Write(std::string_view bytes);
    // Writes out the buffer and closes the file, keeping it on disk (until
    // Discard or destruction). False when any write or the close failed.
    bool Finish();
    // Closes and deletes the file.
    void Discard();

    bool is_open() const { return file_.fd().valid(); }
    const std::string& path() const { return file_.path(); }
    // Bytes written so far (the buffer included).
    long long size() const { return size_; }
    // The system error of the create, write or close that failed (0 when
    // none failed): ENOSPC or EDQUOT for a full disk.
    int error() const { return error_; }

private:
    bool Flush();

    static constexpr std::size_t kBufferSize = 64 * 1024;

    TemporaryFile file_;
    std::string buffer_;
    long long size_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

}  // namespace quorvex::smtp
