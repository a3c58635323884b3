// A small CMPP 2.0 gateway (ISMG) for the tests, written from the protocol's
// message layouts and independent of the library's own encoding. It listens
// on a loopback port, accepts one client and runs a scripted dialogue on its
// own thread; every wait has a deadline, so a broken client fails the test
// instead of hanging it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvex::testing {

using Bytes = std::vector<unsigned char>;

// Big-endian helpers and PDU builders, as the protocol lays them out.
void AppendU32(Bytes& out, std::uint32_t value);
std::uint32_t U32At(const Bytes& bytes, std::size_t offset);
Bytes Pdu(std::uint32_t command_id, std::uint32_t sequence_id, const Bytes& body);
// A fixed-width text field: `text` padded with zero bytes to `width`.
Bytes Field(const std::string& text, std::size_t width);
Bytes ConnectResp(std::uint32_t sequence_id, unsigned char status);
Bytes SubmitResp(std::uint32_t sequence_id, const Bytes& msg_id, unsigned char result);
// A DELIVER body: Msg_Id, Dest_Id, Service_Id, TP_pid, TP_udhi, Msg_Fmt,
// Src_terminal_Id, Registered_Delivery, Msg_Length, content, Reserved.
Bytes DeliverBody(const Bytes& msg_id, const std::string& source, const std::string& content);

// One accepted connection, as the script sees it.
class GatewayPeer {
public:
    explicit GatewayPeer(int fd) : fd_(fd) {}

    // Reads one whole PDU (header and the body its Total_Length announces);
    // nothing when the client closed, stalled or announced nonsense.
    std::optional<Bytes> ReadPdu();
    // Sends raw bytes, well-formed or not.
    bool Send(const Bytes& bytes);
    // True once the client has closed its end (reads end of stream).
    bool WaitForClientClose();

    const std::vector<Bytes>& received() const { return received_; }

private:
    int fd_;
    std::vector<Bytes> received_;
};

class CmppGatewaySimulator {
public:
    using Script = std::function<void(GatewayPeer&)>;

    // Listens on 127.0.0.1 at a port the system picks, then serves one client
    // with `script`; the connection is closed when the script returns.
    explicit CmppGatewaySimulator(Script script);
    ~CmppGatewaySimulator();
    CmppGatewaySimulator(const CmppGatewaySimulator&) = delete;
    CmppGatewaySimulator& operator=(const CmppGatewaySimulator&) = delete;

    unsigned short port() const { return port_; }
    // Waits for the dialogue to end; then the PDUs the script read are in
    // received() and accepted() tells whether a client came at all.
    void Join();
    const std::vector<Bytes>& received() const { return received_; }
    bool accepted() const { return accepted_; }

private:
    void Serve(Script script);

    int listener_ = -1;
    unsigned short port_ = 0;
    bool accepted_ = false;
    std::vector<Bytes> received_;
    std::thread thread_;
};

}  // namespace quorvex::testing
