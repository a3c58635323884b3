// An INI file on disk with the semantics of the Windows profile functions
// (see IniDocument). Every INI file of the system is read and written
// through this class.
//
// Reads come from a process-wide cache keyed by path and invalidated when
// the file changes on disk, so repeated reads of an unchanged file cost one
// stat(). A missing or unreadable file reads as empty: every key gives its
// default. Writes take a per-path lock, apply the change to the current
// text and replace the file atomically; a value holding CR or LF is refused,
// and a file that is there but cannot be read is never written.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace quorvex {

class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // A snapshot of the file as it is now. Load once and query the snapshot
    // when reading many keys.
    std::shared_ptr<const IniDocument> Load() const;
    // Why the file is there but cannot be read ("Permission denied", "it is
    // not a regular file"); nothing when it was read or is not there.
    std::optional<std::string> ReadFailure() const;

    // GetPrivateProfileString: the value, or the default when the section
    // or key is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view default_value = "") const;
    // GetPrivateProfileInt: see ParseProfileInt.
    int GetInt(std::string_view section, std::string_view key, int default_value) const;

    // WritePrivateProfileString. False when refused or not written.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInt(std::string_view section, std::string_view key, long long value);
    bool DeleteKey(std::string_view section, std::string_view key);
    bool DeleteSection(std::string_view section);

    // Applies any number of changes in one atomic rewrite. `change` gets the
    // current document; returning false abandons the edit (nothing is
    // written). Returns false when abandoned or when the write failed, and
    // (logged with the reason) when the file is there but cannot be read.
    bool Edit(const std::function<bool(IniDocument&)>& change);

    // Drops every cached document (tests that rewrite files behind the
    // cache's back within one clock tick).
    static void ClearCache();

private:
    // The document, an empty one for a missing file, or null with `failure`
    // set when the file cannot be read.
    std::shared_ptr<const IniDocument> Read(std::string& failure) const;

    std::string path_;
};

// Shorthands for one read of one key, as the profile functions are used.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value = "");
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int default_value);

}  // namespace quorvex
