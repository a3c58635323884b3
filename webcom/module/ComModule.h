// What the component's classes share at module level: where the library
// file lives (its folder holds QuorvexCOM.ini, comlog.txt and the language
// files), the one-time preparation of the library's own copies of the
// shared code, and the counts of live objects and server locks that
// DllCanUnloadNow reports. Nothing here starts a thread, installs a signal
// handler or touches state of the program that loaded the library.
#pragma once

#include <string>

namespace quorvex::webcom {

struct LibraryLocation {
    std::string path;    // the library file as the loader opened it (a link keeps its own name)
    std::string folder;  // that path cut at its last "/"
};

// The library this code runs in. Read once from the dynamic loader; the
// exports hand it to every object they make.
const LibraryLocation& ThisLibrary();

// The location of a library file at `path` (a relative path is taken from
// the working folder of this moment).
LibraryLocation LibraryAt(std::string path);

// Runs once per process, before the first object works: the error log
// becomes comlog.txt beside `library` and the run flag of the socket code
// is raised for good (the component's waits end only on errors and
// time-outs). Registration does not need it, so loading the library to
// register it changes nothing.
void PrepareComponent(const LibraryLocation& library);

// Live objects and server locks; the library may be unloaded when both
// are zero.
void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool CanUnloadModule();

}  // namespace quorvex::webcom
