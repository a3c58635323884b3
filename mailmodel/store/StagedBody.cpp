// Staged message bodies and the sweep of those an interrupted store left.
#include "mailmodel/store/StagedBody.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <mutex>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::store {

namespace {

constexpr std::string_view kStagedPrefix = ".incoming-";
// A staged body older than this and not locked by its writer was left by
// a writer that died; younger ones may still be on their way in.
constexpr std::time_t kStaleStagedAge = 60;
// Each account folder is looked through for such leftovers at most this
// often by one process.
constexpr std::time_t kStagedSweepInterval = 600;

}  // namespace

StagedBody::StagedBody(const std::string& folder)
    : file_(TemporaryFile::Create(JoinPath(folder, std::string(kStagedPrefix) + "XXXXXX"))) {
    if (file_.holds_file() && ::flock(file_.fd().get(), LOCK_EX | LOCK_NB) != 0) file_.Remove();
}

bool StagedBody::Fill(const std::string& source, std::uint8_t key) {
    return file_.holds_file() && ScrambleCopyFile(source, file_.path(), key);
}

void SweepStagedBodies(const std::string& folder) {
    static std::mutex swept_lock;
    static std::map<std::string, std::time_t> swept;
    const std::time_t now = std::time(nullptr);
    {
        std::lock_guard guard(swept_lock);
        auto [it, fresh] = swept.try_emplace(folder, now);
        if (!fresh && now - it->second < kStagedSweepInterval && now >= it->second) return;
        it->second = now;
    }
    for (const std::string& name : ListFolder(folder)) {
        if (name.compare(0, kStagedPrefix.size(), kStagedPrefix) != 0) continue;
        const std::string path = JoinPath(folder, name);
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now - st.st_mtim.tv_sec < kStaleStagedAge) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer still lives
        if (::unlink(path.c_str()) == 0) QUORVEX_ERROR_LOG("removed a body left by an interrupted store: " + path);
    }
}


}  // namespace quorvex::store
