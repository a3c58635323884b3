// Atomic whole-file replacement and whole-file reads.
#include "common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/FileSteps.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"

namespace quorvex {

bool WriteFully(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteFullyAt(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

bool SyncFolder(const std::string& folder) { return fs::SyncFolder(folder); }

PreparedFile::~PreparedFile() { Discard(); }

void PreparedFile::Discard() {
    if (temporary_.empty()) return;
    const int error = errno;
    fs::Unlink(temporary_);
    temporary_.clear();
    errno = error;
}

bool PreparedFile::Write(const std::string& path, std::string_view bytes, mode_t new_file_mode) {
    Discard();
    path_ = path;
    mode_t mode = new_file_mode & ~S_IWOTH;
    struct stat st {};
    const bool replacing = ::stat(path.c_str(), &st) == 0;
    if (replacing) mode = st.st_mode & 07777 & ~S_IWOTH;

    std::string tmp_path = path;
    tmp_path.append(kAtomicTempInfix).append("XXXXXX");
    UniqueFd fd = fs::CreateTemporary(tmp_path);
    if (!fd) return false;
    temporary_ = tmp_path;

    // A replaced file keeps its owner and group (root rewriting a file of a
    // service that runs as its own user leaves it that user's; a file
    // shared with the web server's group stays readable for it); the mode
    // comes after, as a change of owner or group may clear the set-ID
    // bits. Only root may give a file away: anyone else keeps at least the
    // group, which may in turn be refused to an owner outside it (the file
    // then gets the folder's usual group).
    if (replacing && ::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
        [[maybe_unused]] const int kept = ::fchown(fd.get(), static_cast<uid_t>(-1), st.st_gid);
    }
    const bool ok = ::fchmod(fd.get(), mode) == 0 && fs::WriteAll(fd.get(), bytes, tmp_path) &&
                    fs::Sync(fd.get(), tmp_path) && fs::Close(fd, tmp_path);
    if (!ok) {
        const int error = errno;
        fd.reset();
        errno = error;
        Discard();
    }
    return ok;
}

bool PreparedFile::Install(struct stat* written) {
    if (temporary_.empty()) return false;
    if (!fs::Rename(temporary_, path_)) {
        Discard();
        return false;
    }
    temporary_.clear();
    if (written != nullptr && ::stat(path_.c_str(), written) != 0) *written = {};
    return true;
}

bool AtomicWriteFile(const std::string& path, std::string_view bytes, mode_t new_file_mode, struct stat* written) {
    PreparedFile file;
    if (!file.Write(path, bytes, new_file_mode) || !file.Install(written)) return false;
    fs::SyncFolder(std::string(DirName(path)));
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& out, struct stat* status) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    out.clear();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        if (status != nullptr) return false;
    } else if (st.st_size > 0) {
        out.reserve(static_cast<std::size_t>(st.st_size));
    }
    if (status != nullptr) *status = st;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace quorvex
