// The library location through dladdr, the one-time preparation and the
// module counts.
#include "webcom/module/ComModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/RunFlag.h"

namespace quorvex::webcom {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

}  // namespace

LibraryLocation LibraryAt(std::string path) {
    if (!path.empty() && path.front() != '/') {
        // Loaded by a relative name: the folder is relative to the working
        // folder of that moment, which is now.
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr) path = JoinPath(cwd, path);
    }
    LibraryLocation location;
    location.folder = std::string(DirName(path));
    location.path = std::move(path);
    return location;
}

namespace {

LibraryLocation FromLoader() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FromLoader), &info) == 0 || info.dli_fname == nullptr) return {};
    return LibraryAt(info.dli_fname);
}

}  // namespace

const LibraryLocation& ThisLibrary() {
    static const LibraryLocation location = FromLoader();
    return location;
}

void PrepareComponent(const LibraryLocation& library) {
    static std::once_flag once;
    std::call_once(once, [&library] {
        ServerRunFlag.store(1);
        SetErrorLogFile(JoinPath(library.folder, "comlog.txt"));
    });
}

void ObjectCreated() { g_objects.fetch_add(1); }
void ObjectDestroyed() { g_objects.fetch_sub(1); }

void LockModule(bool lock) {
    if (lock) {
        g_locks.fetch_add(1);
        return;
    }
    // An unbalanced unlock must not wrap the count below zero.
    long current = g_locks.load();
    while (current > 0 && !g_locks.compare_exchange_weak(current, current - 1)) {
    }
}

bool CanUnloadModule() { return g_objects.load() == 0 && g_locks.load() == 0; }

}  // namespace quorvex::webcom
