// Short-message notices through libTellarin.
#include "servers/filters/SmsNotice.h"

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/SharedLibrary.h"
#include "smsgate/Tellarin.h"

namespace quorvex {

namespace {

// The library and the exports a notice uses.
struct Tellarin {
    SharedLibrary library;
    decltype(&cmpp_connect_to_ismg) connect = nullptr;
    decltype(&cmpp_login_value_set) login_value_set = nullptr;
    decltype(&cmpp_login) login = nullptr;
    decltype(&cmpp_submit_sm_init) submit_init = nullptr;
    decltype(&cmpp_submit_sm_set_shortmsg) set_shortmsg = nullptr;
    decltype(&cmpp_submit_sm_set_msglevel) set_msglevel = nullptr;
    decltype(&cmpp_submit_sm_set_regdelivery) set_regdelivery = nullptr;
    decltype(&cmpp_submit_sm_set_protoid) set_protoid = nullptr;
    decltype(&cmpp_submit_sm_set_msgformat) set_msgformat = nullptr;
    decltype(&cmpp_submit_sm_set_validate) set_validate = nullptr;
    decltype(&cmpp_submit_sm_set_srcaddr) set_srcaddr = nullptr;
    decltype(&cmpp_submit_sm_set_dstaddr) set_dstaddr = nullptr;
    decltype(&cmpp_submit_sm_set_svc_type) set_svc_type = nullptr;
    decltype(&cmpp_submit) submit = nullptr;
    decltype(&cmpp_recv) recv = nullptr;
    decltype(&cmpp_disconnect_from_ismg) disconnect = nullptr;
};

std::mutex g_library_mutex;
std::string g_library_path;
const Tellarin* g_library = nullptr;

template <typename F>
bool Bind(const SharedLibrary& library, F& slot, const char* name) {
    slot = library.Function<F>(name);
    return slot != nullptr;
}

const Tellarin* LoadTellarin() {
    std::lock_guard guard(g_library_mutex);
    if (g_library != nullptr) return g_library;
    const std::string candidates[] = {g_library_path, JoinPath(ProgramFolder(), "libTellarin.so"), "libTellarin.so"};
    auto t = std::make_unique<Tellarin>();
    for (const auto& path : candidates) {
        if ((t->library = SharedLibrary::Open(path))) break;
    }
    if (!t->library) {
        WriteErrorLog(__FILE__, __LINE__, "libTellarin.so cannot be loaded: short messages are not sent");
        return nullptr;
    }
    const SharedLibrary& handle = t->library;
    const bool bound = Bind(handle, t->connect, "cmpp_connect_to_ismg") &&
                       Bind(handle, t->login_value_set, "cmpp_login_value_set") && Bind(handle, t->login, "cmpp_login") &&
                       Bind(handle, t->submit_init, "cmpp_submit_sm_init") &&
                       Bind(handle, t->set_shortmsg, "cmpp_submit_sm_set_shortmsg") &&
                       Bind(handle, t->set_msglevel, "cmpp_submit_sm_set_msglevel") &&
                       Bind(handle, t->set_regdelivery, "cmpp_submit_sm_set_regdelivery") &&
                       Bind(handle, t->set_protoid, "cmpp_submit_sm_set_protoid") &&
                       Bind(handle, t->set_msgformat, "cmpp_submit_sm_set_msgformat") &&
                       Bind(handle, t->set_validate, "cmpp_submit_sm_set_validate") &&
                       Bind(handle, t->set_srcaddr, "cmpp_submit_sm_set_srcaddr") &&
                       Bind(handle, t->set_dstaddr, "cmpp_submit_sm_set_dstaddr") &&
                       Bind(handle, t->set_svc_type, "cmpp_submit_sm_set_svc_type") &&
                       Bind(handle, t->submit, "cmpp_submit") && Bind(handle, t->recv, "cmpp_recv") &&
                       Bind(handle, t->disconnect, "cmpp_disconnect_from_ismg");
    if (!bound) {
        WriteErrorLog(__FILE__, __LINE__, "libTellarin.so lacks an export: short messages are not sent");
        return nullptr;
    }
    g_library = t.release();  // kept, with the library, for the life of the process
    return g_library;
}

void PrepareSmsSubmit(const Tellarin& t, CmppSubmitRecord& record, std::string_view number, std::string_view text) {
    t.submit_init(&record);
    t.set_shortmsg(&record, reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    t.set_msglevel(&record, 5);
    t.set_regdelivery(&record, 0);
    t.set_protoid(&record, 0, 0);
    t.set_msgformat(&record, 15);
    t.set_validate(&record, 10);
    t.set_srcaddr(&record, "09876", 5);
    const std::string destination(number);
    t.set_dstaddr(&record, destination.c_str(), static_cast<unsigned>(destination.size()));
    t.set_svc_type(&record, "9999", 4);
}

}  // namespace

void SetTellarinLibraryPath(std::string path) {
    std::lock_guard guard(g_library_mutex);
    g_library_path = std::move(path);
}

bool SendSmsNotice(const CServerSettings& settings, std::string_view number, std::string_view text) {
    if (number.empty()) return false;
    const Tellarin* t = LoadTellarin();
    if (t == nullptr) return false;
    CmppHandle handle{};
    std::uint32_t command_id = 0;
    if (t->connect(settings.ShortMessageIP.c_str(), static_cast<unsigned short>(settings.ShortMessagePort), &handle) == 0) {
        CmppLoginRecord login{};
        t->login_value_set(&login, settings.ShortMessageID.c_str(), settings.ShortMessageUserName.c_str(),
                           settings.ShortMessagePassword.c_str(), 0x20);
        if (t->login(&handle, &login) == 0) {
            CmppSubmitRecord record{};
            PrepareSmsSubmit(*t, record, number, text);
            if (t->submit(&handle, &record) == 0) {
                unsigned char buffer[CMPP_RECV_BUFFER_SIZE] = {};
                if (t->recv(&handle, buffer) == 0) {
                    std::uint32_t id_net = 0;
                    std::memcpy(&id_net, buffer + 4, sizeof id_net);
                    command_id = ntohl(id_net);
                    t->recv(&handle, buffer);
                }
            }
        }
    }
    t->disconnect(&handle);
    return command_id == CMPP_SUBMIT_RESP;
}

}  // namespace quorvex
