// The object map: one row per class. A class joins the component with its
// row here and its member table beside its implementation.
#include "webcom/registry/ComClasses.h"

#include <type_traits>

#include "common/AccountName.h"
#include "webcom/admin/CAdmin.h"
#include "webcom/pop3/CPOP3.h"
#include "webcom/smtp/CSMTP.h"

namespace quorvex::webcom {
namespace {

// The classes that work with the logins of this process are given the record.
template <class T>
ComObject* Create(const LibraryLocation& library, AccountLogins& logins) {
    if constexpr (std::is_constructible_v<T, const LibraryLocation&, AccountLogins&>) return new T(library, logins);
    else return new T(library);
}

constexpr ComClass kClasses[] = {
    {"POP3", "POP3 Class", "QuorvexCOM.POP3", "{6971D9B8-B53E-4C25-A414-76199768A592}", "IPOP3",
     "{EDBA334C-8816-4D26-B3AD-DBCC82FE9442}", &Create<CPOP3>},
    {"SMTP", "SMTP Class", "QuorvexCOM.SMTP", "{0609792F-AB56-4CB6-8909-19CDF72CB2A0}", "ISMTP",
     "{BEFC5279-2BB3-4247-90F4-C7B32F49032F}", &Create<CSMTP>},
    {"Admin", "Admin Class", "QuorvexCOM.Admin", "{8E7523FF-8FDD-445D-AA5F-6CE3664B1204}", "IAdmin",
     "{E25E07DD-9727-49E7-9512-AA8A6F4C6A86}", &Create<CAdmin>},
};

}  // namespace

std::span<const ComClass> ComClasses() { return kClasses; }

std::string VersionedProgId(const ComClass& cls) { return std::string(cls.progid) + ".1"; }

const ComClass* FindComClassById(std::string_view clsid) {
    for (const ComClass& cls : kClasses)
        if (SameName(cls.clsid, clsid)) return &cls;
    return nullptr;
}

const ComClass* FindComClass(std::string_view progid_or_clsid) {
    for (const ComClass& cls : kClasses)
        if (SameName(cls.progid, progid_or_clsid) || SameName(VersionedProgId(cls), progid_or_clsid)) return &cls;
    return FindComClassById(progid_or_clsid);
}

}  // namespace quorvex::webcom
