// Client side of a CMPP 2.0 connection: connecting, sending SUBMIT and the
// keep-alive and closing PDUs, and reading the gateway's PDUs. A PDU is read
// only after its header proved it fits the caller's buffer, so a short,
// oversized or hostile reply can never make the library write past it.
#include <cstring>

#include "smsgate/Tellarin.h"
#include "smsgate/detail/CmppSocket.h"
#include "smsgate/detail/PduIo.h"

using namespace quorvex::smsgate;

namespace {

// The byte offsets of the parts of a received PDU that the checks need.
constexpr std::size_t kSubmitRespResultAt = kHeaderSize + kMsgIdSize;
constexpr std::size_t kDeliverMsgLengthAt = kHeaderSize + kDeliverFixedSize - 1;

// Checks the body of a PDU that cmpp_recv has read whole. A SUBMIT_RESP hands
// back its Result, so a refused message is never taken for a sent one.
int CheckReceivedBody(const unsigned char* buffer, const PduHeader& header) {
    switch (header.command_id) {
        case CMPP_SUBMIT_RESP:
            return buffer[kSubmitRespResultAt];
        case CMPP_DELIVER:
            // The content length must agree with the PDU's length, or a
            // caller reading Msg_Length bytes of content would overrun it.
            return header.total_length == kDeliverOverhead + buffer[kDeliverMsgLengthAt] ? 0 : CMPP_E_UNEXPECTED;
        default:
            return 0;
    }
}

// Whether cmpp_recv reads this PDU at all: one of the commands a client
// expects, with a Total_Length that covers the command's fixed part.
bool IsExpectedPdu(const PduHeader& header) {
    switch (header.command_id) {
        case CMPP_SUBMIT_RESP:
            return header.total_length == kHeaderSize + kSubmitRespBodySize;
        case CMPP_DELIVER:
            return header.total_length >= kDeliverOverhead;
        case CMPP_ACTIVE_TEST:
        case CMPP_ACTIVE_TEST_RESP:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" TELLARIN_API int cmpp_connect_to_ismg(const char* address, unsigned short port, CmppHandle* handle) {
    if (handle == nullptr || port == 0) return CMPP_E_MISSING_ARGUMENT;
    if (address == nullptr || *address == '\0') return CMPP_E_NO_BUFFER;
    if (handle->socket != 0) {
        CloseSocket(static_cast<int>(handle->socket));
        handle->socket = 0;
    }
    int fd = -1;
    if (const int connected = ConnectIpv4(address, port, fd); connected != 0) return connected;
    handle->socket = static_cast<std::uint32_t>(fd);
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit(CmppHandle* handle, const CmppSubmitRecord* record) {
    int fd = -1;
    if (record == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    // A record filled by hand may claim more content than it can hold.
    if (record->msg_length > CMPP_MAX_CONTENT) return CMPP_E_MISSING_ARGUMENT;

    unsigned char body[sizeof(CmppSubmitRecord)];
    const std::size_t content_end = kSubmitFixedSize + record->msg_length;
    std::memcpy(body, record, content_end);
    std::memset(body + content_end, 0, kReserveSize);
    return SendPdu(fd, CMPP_SUBMIT, TakeSequence(*handle), body, content_end + kReserveSize);
}

extern "C" TELLARIN_API int cmpp_recv(CmppHandle* handle, unsigned char* buffer) {
    int fd = -1;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    if (buffer == nullptr) return CMPP_E_NO_BUFFER;

    PduHeader header;
    if (const int read = ReadHeader(fd, buffer, header); read != 0) return read;
    if (!FitsBuffer(header.total_length, CMPP_RECV_BUFFER_SIZE) || !IsExpectedPdu(header))
        return CMPP_E_UNEXPECTED;
    // An ACTIVE_TEST is normally a bare header; any body it carries is read
    // too, so that the next PDU starts where it should.
    if (const int read = ReadBody(fd, buffer, header); read != 0) return read;
    return CheckReceivedBody(buffer, header);
}

extern "C" TELLARIN_API int cmpp_active_test(CmppHandle* handle) {
    int fd = -1;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    return SendPdu(fd, CMPP_ACTIVE_TEST, TakeSequence(*handle), nullptr, 0);
}

extern "C" TELLARIN_API int cmpp_active_test_resp(CmppHandle* handle, std::uint32_t sequence) {
    int fd = -1;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    return SendPdu(fd, CMPP_ACTIVE_TEST_RESP, sequence, nullptr, 0);
}

extern "C" TELLARIN_API int cmpp_deliver_resp(CmppHandle* handle, std::uint32_t sequence,
                                              const unsigned char* msg_id, unsigned char result) {
    int fd = -1;
    if (msg_id == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    unsigned char body[kDeliverRespBodySize];
    std::memcpy(body, msg_id, kMsgIdSize);
    body[kMsgIdSize] = result;
    // The sequence arrives as it lay in the received header, already in
    // network order: send its bytes unchanged.
    unsigned char raw_sequence[4];
    std::memcpy(raw_sequence, &sequence, sizeof raw_sequence);
    return SendPdu(fd, CMPP_DELIVER_RESP, GetU32(raw_sequence), body, sizeof body);
}

extern "C" TELLARIN_API int cmpp_cancel(CmppHandle* handle, const unsigned char* msg_id) {
    return handle != nullptr && msg_id != nullptr ? 0 : CMPP_E_MISSING_ARGUMENT;
}

extern "C" TELLARIN_API int cmpp_logout(CmppHandle* handle) {
    int fd = -1;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    return SendPdu(fd, CMPP_TERMINATE, TakeSequence(*handle), nullptr, 0);
}

// The handle forgets the descriptor as it closes it: a later call on the same
// handle then reports "no socket" instead of touching a descriptor number the
// process may have reused for something else.
extern "C" TELLARIN_API int cmpp_disconnect_from_ismg(CmppHandle* handle) {
    int fd = -1;
    if (const int check = HandleSocket(handle, fd); check != 0) return check;
    handle->socket = 0;
    return CloseSocket(fd);
}
