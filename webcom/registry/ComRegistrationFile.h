// Self-registration in place of the system registry: the keys and values
// of the classes, their ProgIDs and the type library, written as sections
// of "ComRegistry.ini" beside the library. A key path is a section name,
// its default value the key "@". Web pages create objects through this
// file (ProgID -> CLSID -> InprocServer32, the library path).
#pragma once

#include <string>

#include "common/IniDocument.h"

namespace quorvex::webcom {

inline constexpr const char* kRegistrationFileName = "ComRegistry.ini";
// The default value of a key.
inline constexpr const char* kDefaultValueName = "@";

// Writes the entries of every class into `doc` for a library at
// `library_path`: the ProgID keys get their values (other values they hold
// stay), each class's CLSID key is removed with its subkeys and made
// again, and so are the type library and interface keys. Sections of
// other classes are left alone.
void AddRegistration(IniDocument& doc, const std::string& library_path);
// Removes the ProgID keys, the CLSID keys, the type library and the
// interface keys of the classes, each with its subkeys.
void RemoveRegistration(IniDocument& doc);

// The two exports' work on the file beside the library at `library_path`;
// false when the file could not be read or written (nothing changed then).
bool RegisterLibrary(const std::string& library_path);
bool UnregisterLibrary(const std::string& library_path);

}  // namespace quorvex::webcom
