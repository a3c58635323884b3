// Sending and reading whole PDUs over the bounded socket routines, and the
// checks shared by every export that takes a handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "smsgate/Tellarin.h"
#include "smsgate/detail/WireFormat.h"

namespace quorvex::smsgate {

// The largest body any export sends: a DELIVER with a 255-byte Msg_Length.
inline constexpr std::size_t kMaxSendBody = kDeliverFixedSize + 255 + kReserveSize;

// 0 and the handle's descriptor in `fd`, or CMPP_E_MISSING_ARGUMENT for a null
// handle, CMPP_E_NO_SOCKET for a handle without a socket.
int HandleSocket(const CmppHandle* handle, int& fd);

// The next Sequence_Id of the handle's counter.
inline std::uint32_t TakeSequence(CmppHandle& handle) { return handle.sequence_id++; }

// Sends a header with the given fields followed by `body`, in one write.
int SendPdu(int fd, std::uint32_t command_id, std::uint32_t sequence_id, const unsigned char* body,
            std::size_t body_size);

// Reads the 12-byte header into `buffer` and decodes it.
int ReadHeader(int fd, unsigned char* buffer, PduHeader& header);

// Reads the rest of a PDU whose header is already in `buffer`; the caller has
// checked that Total_Length fits the buffer.
int ReadBody(int fd, unsigned char* buffer, const PduHeader& header);

}  // namespace quorvex::smsgate
