// Whole-PDU send and read on top of the bounded socket routines. Building the
// PDU in one local buffer sends it with a single write in the usual case.
#include "smsgate/detail/PduIo.h"

#include <array>
#include <cstring>

#include "smsgate/detail/CmppSocket.h"

namespace quorvex::smsgate {

int HandleSocket(const CmppHandle* handle, int& fd) {
    if (handle == nullptr) return CMPP_E_MISSING_ARGUMENT;
    if (handle->socket == 0) return CMPP_E_NO_SOCKET;
    fd = static_cast<int>(handle->socket);
    return 0;
}

int SendPdu(int fd, std::uint32_t command_id, std::uint32_t sequence_id, const unsigned char* body,
            std::size_t body_size) {
    if (body_size > kMaxSendBody) return CMPP_E_MISSING_ARGUMENT;
    std::array<unsigned char, kHeaderSize + kMaxSendBody> pdu;
    const auto total = static_cast<std::uint32_t>(kHeaderSize + body_size);
    EncodeHeader(pdu.data(), {total, command_id, sequence_id});
    if (body_size > 0) std::memcpy(pdu.data() + kHeaderSize, body, body_size);
    return SendAll(fd, pdu.data(), total);
}

int ReadHeader(int fd, unsigned char* buffer, PduHeader& header) {
    if (const int read = ReceiveExact(fd, buffer, kHeaderSize); read != 0) return read;
    header = DecodeHeader(buffer);
    return 0;
}

int ReadBody(int fd, unsigned char* buffer, const PduHeader& header) {
    return ReceiveExact(fd, buffer + kHeaderSize, header.total_length - kHeaderSize);
}

}  // namespace quorvex::smsgate
