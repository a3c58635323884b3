// Registration entries and the atomic rewrite of the registration file.
// This runs when the mail server loads the library just to register it, so
// it keeps no state: no profile cache, no error log.
#include "webcom/registry/ComRegistrationFile.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/AccountName.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "webcom/registry/ComClasses.h"

namespace quorvex::webcom {
namespace {

// Web pages must read the file; nobody but its owner writes it.
constexpr mode_t kRegistrationFileMode = 0644;

std::string Key(std::string_view a, std::string_view b) { return std::string(a) + "\\" + std::string(b); }

// Removes `root` and every section below it ("root\...").
void RemoveTree(IniDocument& doc, const std::string& root) {
    for (const std::string& name : doc.SectionNames()) {
        const bool below = name.size() > root.size() && name[root.size()] == '\\' &&
                           SameName(std::string_view(name).substr(0, root.size()), root);
        if (SameName(name, root) || below) doc.RemoveSection(name);
    }
}

void SetDefault(IniDocument& doc, const std::string& key, std::string_view value) { doc.Set(key, kDefaultValueName, value); }

std::string TypeLibraryKey() { return Key("TypeLib", kTypeLibraryId); }

}  // namespace

void AddRegistration(IniDocument& doc, const std::string& library_path) {
    const std::string library_folder(DirName(library_path));
    for (const ComClass& cls : ComClasses()) {
        const std::string versioned = VersionedProgId(cls);
        const std::string progid(cls.progid);
        SetDefault(doc, versioned, cls.class_text);
        SetDefault(doc, Key(versioned, "CLSID"), cls.clsid);
        SetDefault(doc, progid, cls.class_text);
        SetDefault(doc, Key(progid, "CLSID"), cls.clsid);
        SetDefault(doc, Key(progid, "CurVer"), versioned);

        const std::string clsid_key = Key("CLSID", cls.clsid);
        RemoveTree(doc, clsid_key);
        SetDefault(doc, clsid_key, cls.class_text);
        SetDefault(doc, Key(clsid_key, "ProgID"), versioned);
        SetDefault(doc, Key(clsid_key, "VersionIndependentProgID"), progid);
        SetDefault(doc, Key(clsid_key, "Programmable"), "");
        SetDefault(doc, Key(clsid_key, "InprocServer32"), library_path);
        doc.Set(Key(clsid_key, "InprocServer32"), "ThreadingModel", "Apartment");
        SetDefault(doc, Key(clsid_key, "TypeLib"), kTypeLibraryId);

        const std::string interface_key = Key("Interface", cls.iid);
        RemoveTree(doc, interface_key);
        SetDefault(doc, interface_key, cls.interface_name);
        SetDefault(doc, Key(interface_key, "TypeLib"), kTypeLibraryId);
        doc.Set(Key(interface_key, "TypeLib"), "Version", kTypeLibraryVersion);
    }
    // The member tables inside the library stand in for the type library.
    const std::string version_key = Key(TypeLibraryKey(), kTypeLibraryVersion);
    RemoveTree(doc, TypeLibraryKey());
    SetDefault(doc, version_key, kTypeLibraryHelp);
    SetDefault(doc, Key(version_key, "0\\linux"), library_path);
    SetDefault(doc, Key(version_key, "FLAGS"), "0");
    SetDefault(doc, Key(version_key, "HELPDIR"), library_folder);
}

void RemoveRegistration(IniDocument& doc) {
    for (const ComClass& cls : ComClasses()) {
        RemoveTree(doc, std::string(cls.progid));
        RemoveTree(doc, VersionedProgId(cls));
        RemoveTree(doc, Key("CLSID", cls.clsid));
        RemoveTree(doc, Key("Interface", cls.iid));
    }
    RemoveTree(doc, TypeLibraryKey());
}

namespace {

bool Rewrite(const std::string& library_path, bool add) {
    if (library_path.empty()) return false;
    const std::string path = JoinPath(DirName(library_path), kRegistrationFileName);
    std::string text;
    if (!ReadWholeFile(path, text)) {
        if (errno != ENOENT) return false;
        if (!add) return true;  // nothing registered, nothing to remove
    }
    IniDocument doc = IniDocument::Parse(text);
    if (add) AddRegistration(doc, library_path);
    else RemoveRegistration(doc);
    return AtomicWriteFile(path, doc.Format(), kRegistrationFileMode);
}

}  // namespace

bool RegisterLibrary(const std::string& library_path) { return Rewrite(library_path, true); }

bool UnregisterLibrary(const std::string& library_path) { return Rewrite(library_path, false); }

}  // namespace quorvex::webcom
