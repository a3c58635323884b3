// A shared library loaded for as long as its owner lives: opened with
// dlopen (all symbols bound at once, none shared with later loads) and
// closed when the owner goes, on every way out. Exports are looked up by
// name; a missing file or export is an ordinary answer, not an error.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace quorvex {

class SharedLibrary {
public:
    SharedLibrary() = default;

    // Loads the file at `path`. Holds nothing when it cannot be loaded, or
    // when the path is empty (dlopen would hand back the program itself).
    static SharedLibrary Open(const std::string& path);
    // The same for a library the program needs, which `what` names ("The
    // component library"): when it holds nothing, `reason` (when given) gets
    // "<what> <path> is missing." or "<what> <path> cannot be loaded: <the
    // loader's reason>.".
    static SharedLibrary Open(const std::string& path, std::string_view what, std::string* reason);

    bool loaded() const { return handle_ != nullptr; }
    explicit operator bool() const { return loaded(); }

    // The export `name` as a function pointer of type F; null when nothing
    // is loaded or the library has no such export.
    template <typename F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }

private:
    struct Closer {
        void operator()(void* handle) const;
    };

    void* Symbol(const char* name) const;

    std::unique_ptr<void, Closer> handle_;
};

}  // namespace quorvex
