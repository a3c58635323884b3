// The installer's export. A web directory is one configuration file of
// the local Apache, "quorvex-<name>.conf" in its configuration folder (and
// the link that a2enconf makes, where the folder is Debian's
// conf-available). Every change is checked by Apache before it counts: a
// configuration that Apache refuses is taken back, so a failed update
// never unpublishes a working directory. A running server is then
// reloaded gracefully. Messages go to standard error; the caller reports
// the failure in its own words.
#include "vdirinstall/Vendrel.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "vdirinstall/ApacheControl.h"
#include "vdirinstall/ApacheSnippet.h"

namespace quorvex::vdir {

namespace {

// The snippet file is read by the server's root process and by anyone
// checking the configuration; it holds no secret.
constexpr mode_t kSnippetMode = 0644;

void Report(std::string_view text) {
    std::fprintf(stderr, "Vendrel: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

// Why the last call failed, in one sentence for the caller's own message;
// empty after a success or when nothing more can be said than that it
// failed. Calls run one at a time. Not thread-local: an unloaded library's
// thread-local block leaves a stale entry behind that the leak checker's
// scan of the threads trips over, and the program calls from one thread.
std::mutex g_calls;
std::string g_last_reason;

void ReportError(std::string_view what, int error) {
    char code[48];
    std::snprintf(code, sizeof code, "Error %d (0x%08x)", error, static_cast<unsigned>(error));
    Report(std::string(what) + ": " + code);
}

// The configuration file of one directory and its enabling link.
class SnippetPlace {
public:
    SnippetPlace(const std::string& conf_folder, std::string_view name)
        : file_name_(SnippetFileName(name)),
          path_(JoinPath(conf_folder, file_name_)),
          enabled_folder_(ApacheEnabledFolder(conf_folder)) {}

    const std::string& path() const { return path_; }

    struct State {
        std::optional<std::string> text;  // nothing: no file
        bool linked = false;
    };

    // The file is there and, where the folder wants it, enabled.
    bool Published() const {
        const State state = Read();
        return state.text && (enabled_folder_.empty() || state.linked);
    }

    State Read() const {
        State state;
        std::string text;
        if (ReadWholeFile(path_, text)) state.text = std::move(text);
        state.linked = !enabled_folder_.empty() && ::access(LinkPath().c_str(), F_OK) == 0;
        return state;
    }

    bool Write(const std::string& text) const {
        if (!AtomicWriteFile(path_, text, kSnippetMode)) return Failed("CreateVirtualRoot: writing " + path_);
        return enabled_folder_.empty() || Link();
    }

    bool Remove() const {
        if (!enabled_folder_.empty() && ::unlink(LinkPath().c_str()) != 0 && errno != ENOENT)
            return Failed("DeleteVirtualRoot: removing " + LinkPath());
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return Failed("DeleteVirtualRoot: removing " + path_);
        SyncFolder(std::string(DirName(path_)));
        return true;
    }

    // Puts a state read before back; best effort, reported when it fails.
    void Restore(const State& state) const {
        if (!state.text) {
            Remove();
            return;
        }
        if (!AtomicWriteFile(path_, *state.text, kSnippetMode)) Failed("restoring " + path_);
        if (enabled_folder_.empty()) return;
        if (state.linked) {
            Link();
        } else if (::unlink(LinkPath().c_str()) != 0 && errno != ENOENT) {
            Failed("restoring " + LinkPath());
        }
    }

private:
    std::string LinkPath() const { return JoinPath(enabled_folder_, file_name_); }

    // "../conf-available/<file>", made under a temporary name and renamed
    // over whatever is there, as a2enconf would leave it.
    bool Link() const {
        const std::string link = LinkPath();
        const std::string temporary = link + std::string(kAtomicTempInfix) + "link";
        ::unlink(temporary.c_str());
        const std::string target = JoinPath("../conf-available", file_name_);
        if (::symlink(target.c_str(), temporary.c_str()) != 0) return Failed("CreateVirtualRoot: linking " + link);
        if (::rename(temporary.c_str(), link.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            errno = error;
            return Failed("CreateVirtualRoot: linking " + link);
        }
        SyncFolder(enabled_folder_);
        return true;
    }

    static bool Failed(const std::string& what) {
        const int error = errno;
        ReportError(what, error);
        // The first failure of a call is its reason; putting things back
        // after it may fail as well.
        if (g_last_reason.empty())
            g_last_reason = "The web server's configuration could not be changed (" + what + "): " +
                            std::strerror(error) + ".";
        return false;
    }

    std::string file_name_;
    std::string path_;
    std::string enabled_folder_;
};

int Apply(std::string_view name, const char* folder, const char* document, int script) {
    g_last_reason.clear();
    if (!IsValidDirectoryName(name)) {
        Report("refused: \"" + std::string(name) + "\" is not a web directory name");
        return 0;
    }
    std::optional<WebDirectory> directory;
    if (folder != nullptr) {
        const std::optional<std::string> clean = CleanFolderPath(folder);
        const std::string_view document_name = document != nullptr ? document : "";
        if (!clean || (!document_name.empty() && !IsValidDirectoryName(document_name))) {
            Report("refused: the folder or default document of \"/" + std::string(name) +
                   "\" cannot go into a web server configuration");
            return 0;
        }
        directory = WebDirectory{std::string(name), *clean, std::string(document_name), script != 0};
    }

    const std::string conf_folder = ApacheConfFolder();
    if (!FolderExists(conf_folder)) {
        g_last_reason =
            "The web server's configuration folder " + conf_folder + " does not exist (is Apache installed?).";
        Report(g_last_reason);
        return 0;
    }
    const SnippetPlace place(conf_folder, name);
    const SnippetPlace::State previous = place.Read();
    if (!directory && !previous.text && !previous.linked) return 1;  // nothing published, nothing to remove

    const bool changed = directory ? place.Write(FormatApacheSnippet(*directory)) : place.Remove();
    if (!changed) {
        place.Restore(previous);
        return 0;
    }
    const ApacheControl apache;
    if (!apache.available()) return 1;  // no control program: nothing to check or reload
    const CommandResult check = apache.CheckConfiguration();
    if (check.exit_status != 0) {
        place.Restore(previous);
        g_last_reason = MissingModuleAdvice(check.output);
        Report(std::string(directory ? "CreateVirtualRoot" : "DeleteVirtualRoot") +
               ": the web server refused the configuration; " + place.path() + " was put back as it was: " +
               check.output);
        return 0;
    }
    if (ApacheControl::IsRunning(check.output)) {
        const CommandResult reload = apache.GracefulReload();
        if (reload.exit_status != 0) Report("the web server could not be reloaded: " + reload.output);
    }
    return 1;
}

}  // namespace

}  // namespace quorvex::vdir

extern "C" __attribute__((visibility("default"))) const char* VendrelLastError() {
    return quorvex::vdir::g_last_reason.c_str();
}

extern "C" __attribute__((visibility("default"))) int VendrelPublished(const char* name) {
    try {
        const std::lock_guard one_at_a_time(quorvex::vdir::g_calls);
        if (name == nullptr || !quorvex::vdir::IsValidDirectoryName(name)) return 0;
        return quorvex::vdir::SnippetPlace(quorvex::vdir::ApacheConfFolder(), name).Published() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) int Vendrel(const char* name, const char* folder,
                                                              const char* document, int script) {
    // Nothing may leave a C export as an exception.
    try {
        const std::lock_guard one_at_a_time(quorvex::vdir::g_calls);
        return quorvex::vdir::Apply(name != nullptr ? name : "", folder, document, script);
    } catch (const std::exception& fault) {
        quorvex::vdir::Report(fault.what());
    } catch (...) {
        quorvex::vdir::Report("unexpected failure");
    }
    return 0;
}
