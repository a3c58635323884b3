// A file that lives only as long as its owner: closed and removed on every
// way out (a failed write, an early return, an exception) unless it was
// moved to its final name or released.
#pragma once

#include <string>
#include <utility>

#include "common/UniqueFd.h"

namespace quorvex {

class TemporaryFile {
public:
    TemporaryFile() = default;
    // Takes charge of `path` (and of `fd`, an open descriptor of it).
    explicit TemporaryFile(std::string path, UniqueFd fd = {}) : path_(std::move(path)), fd_(std::move(fd)) {}
    TemporaryFile(TemporaryFile&& other) noexcept
        : path_(std::exchange(other.path_, std::string())), fd_(std::move(other.fd_)) {}
    TemporaryFile& operator=(TemporaryFile&& other) noexcept {
        if (this != &other) {
            Remove();
            path_ = std::exchange(other.path_, std::string());
            fd_ = std::move(other.fd_);
        }
        return *this;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() { Remove(); }

    // A new file, readable and writable by the owner only, named after
    // `name_template` whose last six characters are "XXXXXX". Holds no file
    // (empty path) when it could not be made.
    static TemporaryFile Create(std::string name_template);

    const std::string& path() const { return path_; }
    bool holds_file() const { return !path_.empty(); }
    UniqueFd& fd() { return fd_; }
    const UniqueFd& fd() const { return fd_; }

    // Renames the file to `destination` (replacing what is there) and lets
    // go of it. False, the file still held, when the rename failed.
    bool MoveTo(const std::string& destination);
    // Lets go of the file without removing it.
    void Release() { path_.clear(); }
    // Closes and removes the file now.
    void Remove();

private:
    std::string path_;
    UniqueFd fd_;
};

}  // namespace quorvex
