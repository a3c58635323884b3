// Client login: building the CONNECT body and the CONNECT / CONNECT_RESP
// exchange. The reply is checked (Command_Id and Total_Length) before its
// body is read, so a gateway speaking another version or another command
// cannot make the client read or wait for bytes that will not come.
#include <cstring>

#include "smsgate/Tellarin.h"
#include "smsgate/detail/Authenticator.h"
#include "smsgate/detail/CmppTime.h"
#include "smsgate/detail/PduIo.h"

using namespace quorvex::smsgate;

static_assert(sizeof(CmppLoginRecord) == kConnectBodySize);

namespace {

// The CONNECT carries the counter modulo 0x7FFFFFFF; other PDUs use it as is.
constexpr std::uint32_t kConnectSequenceModulus = 0x7FFFFFFF;

// The C string up to its NUL, read no further than `limit` characters.
std::string_view Bounded(const char* text, std::size_t limit) { return {text, ::strnlen(text, limit)}; }

}  // namespace

extern "C" TELLARIN_API int cmpp_login_value_set(CmppLoginRecord* login, const char* sp_id, const char* login_name,
                                                 const char* secret, unsigned char version) {
    if (login == nullptr || sp_id == nullptr || login_name == nullptr || secret == nullptr)
        return CMPP_E_MISSING_ARGUMENT;

    const LocalDateTime now = LocalNow();
    const auto timestamp = FormatLoginTimestamp(now);
    const std::string input = BuildAuthenticatorInput(Bounded(login_name, kMaxLoginNameLength),
                                                      Bounded(secret, kMaxSecretLength), timestamp.data());
    const auto digest = Md5(input);
    if (!digest) return CMPP_E_LOGIN_BUILD;

    std::memset(login, 0, sizeof *login);
    const std::string_view source = Bounded(sp_id, sizeof login->source_addr);
    std::memcpy(login->source_addr, source.data(), source.size());
    std::memcpy(login->authenticator_source, digest->data(), digest->size());
    login->version = version;
    PutU32(login->timestamp, LoginTimestampValue(now));
    return 0;
}

extern "C" TELLARIN_API int cmpp_login(CmppHandle* handle, const CmppLoginRecord* login) {
    int fd = -1;
    if (login == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;

    const std::uint32_t sequence = TakeSequence(*handle) % kConnectSequenceModulus;
    const auto* body = reinterpret_cast<const unsigned char*>(login);
    if (const int sent = SendPdu(fd, CMPP_CONNECT, sequence, body, sizeof *login); sent != 0) return sent;

    unsigned char reply[kHeaderSize + kConnectRespBodySize];
    PduHeader header;
    if (const int read = ReadHeader(fd, reply, header); read != 0) return read;
    if (header.command_id != CMPP_CONNECT_RESP || header.total_length != sizeof reply) return CMPP_E_UNEXPECTED;
    if (const int read = ReadBody(fd, reply, header); read != 0) return read;
    return reply[kHeaderSize];  // Status: 0 accepted, otherwise the gateway's reason
}
