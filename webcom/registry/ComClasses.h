// The component's classes: their names, ProgIDs, CLSIDs and interface ids
// as registration records them, and the function that makes an object of
// each. A class whose implementation this build does not contain has no
// create function: it is registered like the others, and creating it
// fails with kClassNotAvailable.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "webcom/dispatch/ComObject.h"
#include "webcom/module/AccountLogins.h"
#include "webcom/module/ComModule.h"

namespace quorvex::webcom {

inline constexpr std::string_view kTypeLibraryId = "{1A3CFD4E-6AA0-442D-83F4-8BA0C7F29C47}";
inline constexpr std::string_view kTypeLibraryVersion = "1.0";
inline constexpr std::string_view kTypeLibraryHelp = "QuorvexCOM 1.0 Type Library";

struct ComClass {
    std::string_view name;           // "POP3"
    std::string_view class_text;     // "POP3 Class"
    std::string_view progid;         // "QuorvexCOM.POP3" (the versioned one adds ".1")
    std::string_view clsid;          // braced
    std::string_view interface_name; // "IPOP3"
    std::string_view iid;            // braced
    // null: not in this build. `logins` is the library's record of logins.
    ComObject* (*create)(const LibraryLocation& library, AccountLogins& logins);
};

std::span<const ComClass> ComClasses();

// "QuorvexCOM.POP3.1" and the like.
std::string VersionedProgId(const ComClass& cls);

// The class a ProgID (with or without ".1") or a braced CLSID names,
// compared without regard to case; null when none does.
const ComClass* FindComClass(std::string_view progid_or_clsid);
const ComClass* FindComClassById(std::string_view clsid);

}  // namespace quorvex::webcom
