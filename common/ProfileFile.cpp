// INI files on disk: cached reads, locked atomic writes.
#include "common/ProfileFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"

namespace quorvex {

namespace {

// What identifies one version of a file on disk. An atomic replace always
// gives a new inode, so a rewrite is noticed even within one clock tick.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtime_ns = -1;
    bool operator==(const FileStamp&) const = default;
};

// Nothing when the file is not there; `failure` (when given) gets why a
// file that is there cannot be read as one, and stays empty otherwise.
std::optional<FileStamp> stamp_of(const std::string& path, std::string* failure = nullptr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (failure != nullptr && errno != ENOENT && errno != ENOTDIR) *failure = std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        if (failure != nullptr) *failure = "it is not a regular file";
        return std::nullopt;
    }
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

struct CacheEntry {
    FileStamp stamp;
    std::shared_ptr<const IniDocument> doc;
};

std::mutex g_cache_mutex;
std::map<std::string, CacheEntry>& cache() {
    static auto* entries = new std::map<std::string, CacheEntry>;
    return *entries;
}

std::mutex g_locks_mutex;
std::mutex& write_lock_for(const std::string& path) {
    static auto* locks = new std::map<std::string, std::unique_ptr<std::mutex>>;
    std::lock_guard guard(g_locks_mutex);
    auto& slot = (*locks)[path];
    if (!slot) slot = std::make_unique<std::mutex>();
    return *slot;
}

const std::shared_ptr<const IniDocument>& empty_document() {
    static const auto* doc = new std::shared_ptr<const IniDocument>(std::make_shared<IniDocument>());
    return *doc;
}

}  // namespace

std::shared_ptr<const IniDocument> ProfileFile::Load() const {
    std::string failure;
    auto doc = Read(failure);
    return doc ? doc : empty_document();
}

std::optional<std::string> ProfileFile::ReadFailure() const {
    std::string failure;
    if (Read(failure)) return std::nullopt;
    return failure;
}

std::shared_ptr<const IniDocument> ProfileFile::Read(std::string& failure) const {
    // The file may change between stat() and read(); the stamp is taken
    // again after reading and the document is cached only when both agree.
    for (int attempt = 0; attempt < 3; ++attempt) {
        failure.clear();
        const auto before = stamp_of(path_, &failure);
        if (!before) return failure.empty() ? empty_document() : nullptr;
        {
            std::lock_guard guard(g_cache_mutex);
            auto it = cache().find(path_);
            if (it != cache().end() && it->second.stamp == *before) return it->second.doc;
        }
        std::string text;
        if (!ReadWholeFile(path_, text)) {
            if (errno == ENOENT) return empty_document();  // removed meanwhile
            failure = std::strerror(errno);
            return nullptr;
        }
        auto doc = std::make_shared<const IniDocument>(IniDocument::Parse(text));
        const auto after = stamp_of(path_);
        if (after && *after == *before) {
            std::lock_guard guard(g_cache_mutex);
            cache()[path_] = CacheEntry{*before, doc};
            return doc;
        }
        if (attempt == 2) return doc;
    }
    return empty_document();
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view default_value) const {
    const auto doc = Load();
    const auto value = doc->Find(section, key);
    return std::string(value ? *value : default_value);
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int default_value) const {
    const auto doc = Load();
    const auto value = doc->Find(section, key);
    return value ? ParseProfileInt(*value, default_value) : default_value;
}

bool ProfileFile::Edit(const std::function<bool(IniDocument&)>& change) {
    std::lock_guard write_guard(write_lock_for(path_));
    // A file that is there but could not be read is never replaced by what
    // an empty document and the change would make of it.
    std::string failure;
    const auto current = Read(failure);
    if (!current) {
        QUORVEX_ERROR_LOG(path_ + " was not written: it cannot be read (" + failure + ")");
        return false;
    }
    IniDocument doc = *current;
    if (!change(doc)) return false;
    std::string text = doc.Format();
    if (!AtomicWriteFile(path_, text)) return false;
    if (const auto stamp = stamp_of(path_)) {
        std::lock_guard guard(g_cache_mutex);
        cache()[path_] = CacheEntry{*stamp, std::make_shared<const IniDocument>(std::move(doc))};
    }
    return true;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    return Edit([&](IniDocument& doc) { return doc.Set(section, key, value); });
}

bool ProfileFile::WriteInt(std::string_view section, std::string_view key, long long value) {
    return WriteString(section, key, std::to_string(value));
}

// Deleting what is not there succeeds without touching the file.
bool ProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    if (!Load()->Find(section, key)) return true;
    return Edit([&](IniDocument& doc) { return doc.RemoveKey(section, key); }) || !Load()->Find(section, key);
}

bool ProfileFile::DeleteSection(std::string_view section) {
    if (!Load()->HasSection(section)) return true;
    return Edit([&](IniDocument& doc) { return doc.RemoveSection(section); }) || !Load()->HasSection(section);
}

void ProfileFile::ClearCache() {
    std::lock_guard guard(g_cache_mutex);
    cache().clear();
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value) {
    return ProfileFile(path).GetString(section, key, default_value);
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int default_value) {
    return ProfileFile(path).GetInt(section, key, default_value);
}

}  // namespace quorvex
