// The test gateway: a loopback listener serving one scripted CMPP dialogue,
// plus PDU builders written straight from the protocol's layouts.
#include "CmppGatewaySimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/support/TestPorts.h"

namespace quorvex::testing {
namespace {

constexpr int kWaitMs = 5000;          // generous: only a broken client ever reaches it
constexpr std::uint32_t kMaxPdu = 4096;  // far above any CMPP 2.0 PDU

bool WaitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, kWaitMs) == 1;
}

bool ReadExact(int fd, unsigned char* data, std::size_t size) {
    while (size > 0) {
        if (!WaitReadable(fd)) return false;
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

void AppendU32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
    return (std::uint32_t{bytes.at(offset)} << 24) | (std::uint32_t{bytes.at(offset + 1)} << 16) |
           (std::uint32_t{bytes.at(offset + 2)} << 8) | std::uint32_t{bytes.at(offset + 3)};
}

Bytes Pdu(std::uint32_t command_id, std::uint32_t sequence_id, const Bytes& body) {
    Bytes pdu;
    AppendU32(pdu, static_cast<std::uint32_t>(12 + body.size()));
    AppendU32(pdu, command_id);
    AppendU32(pdu, sequence_id);
    pdu.insert(pdu.end(), body.begin(), body.end());
    return pdu;
}

Bytes Field(const std::string& text, std::size_t width) {
    Bytes field(text.begin(), text.end());
    field.resize(width, 0);
    return field;
}

Bytes ConnectResp(std::uint32_t sequence_id, unsigned char status) {
    Bytes body{status};
    body.resize(17, 0xA5);  // AuthenticatorISMG: any 16 bytes
    body.push_back(0x20);   // Version
    return Pdu(0x80000001, sequence_id, body);
}

Bytes SubmitResp(std::uint32_t sequence_id, const Bytes& msg_id, unsigned char result) {
    Bytes body = msg_id;
    body.push_back(result);
    return Pdu(0x80000004, sequence_id, body);
}

Bytes DeliverBody(const Bytes& msg_id, const std::string& source, const std::string& content) {
    Bytes body = msg_id;
    const auto append = [&body](const Bytes& part) { body.insert(body.end(), part.begin(), part.end()); };
    append(Field("10658", 21));        // Dest_Id
    append(Field("9999", 10));         // Service_Id
    append({0, 0, 15});                // TP_pid, TP_udhi, Msg_Fmt
    append(Field(source, 21));         // Src_terminal_Id
    append({0});                       // Registered_Delivery
    body.push_back(static_cast<unsigned char>(content.size()));
    append(Bytes(content.begin(), content.end()));
    append(Bytes(8, 0));               // Reserved
    return body;
}

std::optional<Bytes> GatewayPeer::ReadPdu() {
    Bytes pdu(12);
    if (!ReadExact(fd_, pdu.data(), 12)) return std::nullopt;
    const std::uint32_t total = U32At(pdu, 0);
    if (total < 12 || total > kMaxPdu) return std::nullopt;
    pdu.resize(total);
    if (!ReadExact(fd_, pdu.data() + 12, total - 12)) return std::nullopt;
    received_.push_back(pdu);
    return pdu;
}

bool GatewayPeer::Send(const Bytes& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool GatewayPeer::WaitForClientClose() {
    unsigned char byte;
    return WaitReadable(fd_) && ::recv(fd_, &byte, 1, 0) == 0;
}

CmppGatewaySimulator::CmppGatewaySimulator(Script script) {
    int port = -1;
    listener_ = quorvex::testing::ListenOnTestPort(port, 1).release();
    if (listener_ < 0) throw std::runtime_error("cannot listen on loopback");
    port_ = static_cast<unsigned short>(port);
    thread_ = std::thread([this, script = std::move(script)] { Serve(script); });
}

CmppGatewaySimulator::~CmppGatewaySimulator() {
    Join();
    if (listener_ >= 0) ::close(listener_);
}

void CmppGatewaySimulator::Join() {
    if (thread_.joinable()) thread_.join();
}

void CmppGatewaySimulator::Serve(Script script) {
    if (!WaitReadable(listener_)) return;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    accepted_ = true;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    GatewayPeer peer(fd);
    script(peer);
    received_ = peer.received();
    ::close(fd);
}

}  // namespace quorvex::testing
