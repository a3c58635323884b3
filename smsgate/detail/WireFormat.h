// Byte-level layout of CMPP 2.0 PDUs: big-endian integers, the 12-byte
// header and the fixed body sizes. Pure functions, no I/O; every length read
// off the wire is checked against these before a byte of body is touched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex::smsgate {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kConnectBodySize = 27;
inline constexpr std::size_t kConnectRespBodySize = 18;  // Status, AuthenticatorISMG, Version
inline constexpr std::size_t kSubmitRespBodySize = 9;    // Msg_Id, Result
inline constexpr std::size_t kDeliverRespBodySize = 9;   // Msg_Id, Result
inline constexpr std::size_t kSubmitFixedSize = 139;     // SUBMIT body up to the content
inline constexpr std::size_t kDeliverFixedSize = 65;     // DELIVER body up to the content
inline constexpr std::size_t kReserveSize = 8;           // Reserve after the content of both
inline constexpr std::size_t kMsgIdSize = 8;
inline constexpr std::size_t kAuthenticatorSize = 16;
inline constexpr unsigned char kProtocolVersion = 0x20;

// SUBMIT: Total_Length = Msg_Length + 159; DELIVER: Msg_Length + 85.
inline constexpr std::size_t kSubmitOverhead = kHeaderSize + kSubmitFixedSize + kReserveSize;
inline constexpr std::size_t kDeliverOverhead = kHeaderSize + kDeliverFixedSize + kReserveSize;
static_assert(kSubmitOverhead == 159 && kDeliverOverhead == 85);

inline void PutU32(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

inline std::uint32_t GetU32(const unsigned char* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) |
           std::uint32_t{at[3]};
}

struct PduHeader {
    std::uint32_t total_length = 0;
    std::uint32_t command_id = 0;
    std::uint32_t sequence_id = 0;
};

inline PduHeader DecodeHeader(const unsigned char* at) {
    return {GetU32(at), GetU32(at + 4), GetU32(at + 8)};
}

inline void EncodeHeader(unsigned char* at, const PduHeader& header) {
    PutU32(at, header.total_length);
    PutU32(at + 4, header.command_id);
    PutU32(at + 8, header.sequence_id);
}

// A Total_Length that a buffer of `capacity` bytes can hold and that covers at
// least the header; anything else is refused unread.
inline bool FitsBuffer(std::uint32_t total_length, std::size_t capacity) {
    return total_length >= kHeaderSize && total_length <= capacity;
}

}  // namespace quorvex::smsgate
