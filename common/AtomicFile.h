// Atomic replacement of a whole file: write a temporary file in the same
// folder, fsync it, rename it over the target, fsync the folder. A reader
// sees the old or the new file, never a mix; a crash leaves one of the two
// and, at worst, a stray temporary file that the next write ignores.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace quorvex {

// Mode used for a file that does not exist yet; an existing file keeps its
// own mode. Returns false (and leaves the old file untouched) on any error.
bool AtomicWriteFile(const std::string& path, std::string_view bytes, mode_t new_file_mode = 0600);

// Reads a whole file. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Marks temporary files made by AtomicWriteFile: "<name>.tmp-" followed by
// random letters. Exposed so clean-up and tests can recognise them.
inline constexpr std::string_view kAtomicTempInfix = ".tmp-";

// fsyncs a folder so that a rename or create inside it is durable.
bool SyncFolder(const std::string& folder);

}  // namespace quorvex
