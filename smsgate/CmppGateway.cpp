// Gateway side of a few CMPP 2.0 exchanges: accepting a login, taking a
// PDU from a client (answering its SUBMIT) and sending a DELIVER. As on the
// client side, a header is checked before any body is read into the buffer.
#include <cstring>

#include "smsgate/Tellarin.h"
#include "smsgate/detail/CmppSocket.h"
#include "smsgate/detail/PduIo.h"

using namespace quorvex::smsgate;

namespace {

// CONNECT_RESP Status values this side gives.
constexpr unsigned char kLoginAccepted = 0;
constexpr unsigned char kLoginVersionTooHigh = 4;
constexpr unsigned char kLoginNotConnect = 5;

// SUBMIT_RESP Result values this side gives.
constexpr unsigned char kSubmitAccepted = 0;
constexpr unsigned char kSubmitMalformed = 1;
constexpr unsigned char kUnknownCommand = 2;

constexpr std::size_t kSourceAddrAt = 0;
constexpr std::size_t kVersionAt = 22;
constexpr std::size_t kSubmitMsgLengthAt = kHeaderSize + kSubmitFixedSize - 1;

int SendConnectResp(int fd, std::uint32_t sequence, unsigned char status) {
    unsigned char body[kConnectRespBodySize] = {};
    body[0] = status;
    body[kConnectRespBodySize - 1] = kProtocolVersion;  // AuthenticatorISMG stays zero
    return SendPdu(fd, CMPP_CONNECT_RESP, sequence, body, sizeof body);
}

bool IsWellFormedSubmit(const unsigned char* buffer, const PduHeader& header) {
    return header.total_length >= kSubmitOverhead &&
           header.total_length == kSubmitOverhead + buffer[kSubmitMsgLengthAt];
}

// Stores the three header fields in host order, as the gateway side hands
// them to its caller.
void HeaderToHostOrder(unsigned char* buffer, const PduHeader& header) {
    const std::uint32_t fields[] = {header.total_length, header.command_id, header.sequence_id};
    std::memcpy(buffer, fields, sizeof fields);
}

}  // namespace

extern "C" TELLARIN_API int cmpp_waitfor_login(int socket, unsigned char* source_addr) {
    if (source_addr == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (socket <= 0) return CMPP_E_NO_SOCKET;

    unsigned char request[kHeaderSize + kConnectBodySize];
    PduHeader header;
    if (const int read = ReadHeader(socket, request, header); read != 0) return read;
    if (header.command_id != CMPP_CONNECT || header.total_length != sizeof request) {
        SendConnectResp(socket, header.sequence_id, kLoginNotConnect);
        return CMPP_E_UNEXPECTED;
    }
    if (const int read = ReadBody(socket, request, header); read != 0) return read;

    const unsigned char* body = request + kHeaderSize;
    std::memcpy(source_addr, body + kSourceAddrAt, 6);
    const bool too_new = body[kVersionAt] > kProtocolVersion;
    if (const int sent = SendConnectResp(socket, header.sequence_id, too_new ? kLoginVersionTooHigh : kLoginAccepted);
        sent != 0)
        return sent;
    return too_new ? CMPP_E_VERSION : 0;
}

extern "C" TELLARIN_API int cmpp_recv_icp(int socket, unsigned char* buffer) {
    if (buffer == nullptr) return CMPP_E_NO_BUFFER;
    if (socket <= 0) return CMPP_E_NO_SOCKET;

    PduHeader header;
    if (const int read = ReadHeader(socket, buffer, header); read != 0) return read;
    HeaderToHostOrder(buffer, header);
    if (!FitsBuffer(header.total_length, CMPP_ICP_BUFFER_SIZE)) return CMPP_E_UNEXPECTED;

    switch (header.command_id) {
        case CMPP_SUBMIT: {
            if (const int read = ReadBody(socket, buffer, header); read != 0) return read;
            const bool well_formed = IsWellFormedSubmit(buffer, header);
            const int sent =
                cmpp_submit_resp(socket, header.sequence_id, well_formed ? kSubmitAccepted : kSubmitMalformed);
            if (sent != 0) return sent;
            return well_formed ? 0 : CMPP_E_UNEXPECTED;
        }
        case CMPP_ACTIVE_TEST:
        case CMPP_DELIVER_RESP:
        case CMPP_ACTIVE_TEST_RESP:
            return ReadBody(socket, buffer, header);
        default:
            cmpp_submit_resp(socket, header.sequence_id, kUnknownCommand);
            return CMPP_E_UNEXPECTED;
    }
}

extern "C" TELLARIN_API int cmpp_submit_resp(int socket, std::uint32_t sequence, unsigned char result) {
    if (socket <= 0) return CMPP_E_NO_SOCKET;
    unsigned char body[kSubmitRespBodySize] = {};  // Msg_Id zero
    body[kMsgIdSize] = result;
    return SendPdu(socket, CMPP_SUBMIT_RESP, sequence, body, sizeof body) == 0 ? 0 : CMPP_E_SUBMIT_RESP_SEND;
}

extern "C" TELLARIN_API int cmpp_deliver(CmppHandle* handle, const unsigned char* body) {
    int fd = -1;
    if (body == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    const std::size_t body_size = kDeliverFixedSize + body[kDeliverFixedSize - 1] + kReserveSize;
    return SendPdu(fd, CMPP_DELIVER, TakeSequence(*handle), body, body_size);
}
