// Atomic replacement of a whole file: write a temporary file in the same
// folder, fsync it, rename it over the target, fsync the folder. A reader
// sees the old or the new file, never a mix; a crash leaves one of the two
// and, at worst, a stray temporary file that the next write ignores.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace quorvex {

// Mode used for a file that does not exist yet; an existing file keeps its
// own mode, group and (when the writer may give files away: root) owner.
// Returns false (and leaves the old file untouched) on any error.
// `written`, when given, receives the status of the new file, taken before
// the folder is flushed.
bool AtomicWriteFile(const std::string& path, std::string_view bytes, mode_t new_file_mode = 0600,
                     struct stat* written = nullptr);

// The same replacement in two steps, for a writer that flushes several
// files before it puts any of them in place: Write makes and flushes the
// temporary file, Install renames it over the target. The folder is not
// flushed: the caller flushes it once for every file it installed there.
// A temporary file never installed is removed with this object.
class PreparedFile {
public:
    PreparedFile() = default;
    ~PreparedFile();
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;

    // False (nothing left behind) when the file cannot be made, written,
    // flushed or closed.
    bool Write(const std::string& path, std::string_view bytes, mode_t new_file_mode = 0600);
    // False (the temporary file removed) when the rename fails or nothing
    // was written. `written`, when given, receives the new file's status.
    bool Install(struct stat* written = nullptr);

private:
    void Discard();
    std::string path_;
    std::string temporary_;  // empty when there is none
};

// Writes all of `bytes` to the descriptor, continuing short writes and
// retrying interrupted ones. False on an error (or a write that takes
// nothing), with an unknown part written.
bool WriteFully(int fd, std::string_view bytes);

// The same at a file offset (pwrite), for in-place updates.
bool WriteFullyAt(int fd, std::string_view bytes, off_t offset);

// Reads a whole file. False when it cannot be opened or read. `status`,
// when given, receives the status of the file that was read.
bool ReadWholeFile(const std::string& path, std::string& out, struct stat* status = nullptr);

// Marks temporary files made by AtomicWriteFile: "<name>.tmp-" followed by
// random letters. Exposed so clean-up and tests can recognise them.
inline constexpr std::string_view kAtomicTempInfix = ".tmp-";

// fsyncs a folder so that a rename or create inside it is durable.
bool SyncFolder(const std::string& folder);

}  // namespace quorvex
