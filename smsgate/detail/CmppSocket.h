// Socket routines under every export: connect with a time limit, send all of
// a block, read exactly a block. Each returns 0 or a Tellarin result code;
// each wait is bounded, so a silent or trickling gateway cannot hold a
// delivery thread longer than the stated limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorvex::smsgate {

inline constexpr std::chrono::milliseconds kConnectWait{10'000};
inline constexpr std::chrono::milliseconds kSendWait{3'000};
inline constexpr std::chrono::milliseconds kReceiveWait{10'000};

// The platform's error as a result code that cannot be mistaken for a
// gateway's Status or Result byte.
int SocketError(int error_number);

// Opens a non-blocking TCP socket to a dotted IPv4 address. On success stores
// a descriptor above 0 (0 means "no socket" in a handle) in `fd_out`.
int ConnectIpv4(const char* address, std::uint16_t port, int& fd_out);

// Sends all `size` bytes within kSendWait.
int SendAll(int fd, const unsigned char* data, std::size_t size);

// Reads exactly `size` bytes within kReceiveWait.
int ReceiveExact(int fd, unsigned char* data, std::size_t size);

// Closes a descriptor; CMPP_E_CLOSE when the system reports a failure.
int CloseSocket(int fd);

}  // namespace quorvex::smsgate
