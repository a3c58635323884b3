// A real receiving SMTP server (aiosmtpd, tests/servers/support/
// smtp_peer.py) on a loopback address, and what it received.
#pragma once

#include <dirent.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "tests/support/NetTestSupport.h"

namespace quorvex::testing {

inline std::string PeerScript() { return std::string(QUORVEX_SOURCE_DIR) + "/tests/servers/support/smtp_peer.py"; }

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SmtpPeer {
public:
    // Starts the peer on `address` at `port` (0: a port of the test port
    // allocator, another one when a start finds it taken) with extra
    // arguments; out_folder receives the messages.
    SmtpPeer(std::string address, int port, std::string out_folder, std::vector<std::string> extra = {})
        : address_(std::move(address)), out_(std::move(out_folder)) {
        MakeFolders(out_);
        for (int attempt = 0; attempt < 5 && !process_; ++attempt) {
            port_ = port != 0 ? port : TakeTestPort();
            std::vector<std::string> argv{"/usr/bin/python3", PeerScript(), address_, std::to_string(port_), out_};
            argv.insert(argv.end(), extra.begin(), extra.end());
            auto process = std::make_unique<ChildProcess>(argv);
            if (process->started() && WaitUntil([&] { return !process->running() || ConnectLoopback(port_, address_.c_str()).valid(); },
                                                kHelperStartLimit) &&
                process->running()) {
                process_ = std::move(process);
            } else if (port != 0) {
                break;
            }
        }
    }
    bool started() const { return process_ != nullptr; }
    int port() const { return port_; }
    const std::string& out() const { return out_; }

    // Names of the received message files ("msg-<n>.eml"), sorted by n.
    std::vector<std::string> Messages() const {
        std::vector<std::pair<int, std::string>> found;
        if (DIR* dir = ::opendir(out_.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.rfind("msg-", 0) == 0 && name.size() > 8 && name.substr(name.size() - 4) == ".eml")
                    found.emplace_back(std::stoi(name.substr(4)), JoinPath(out_, name));
            }
            ::closedir(dir);
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> names;
        for (auto& [n, path] : found) names.push_back(path);
        return names;
    }
    std::string Envelope(const std::string& message_path) const {
        return ReadFileBytes(message_path.substr(0, message_path.size() - 4) + ".json");
    }
    int HeldCount() const {
        int held = 0;
        if (DIR* dir = ::opendir(out_.c_str())) {
            while (const dirent* entry = ::readdir(dir)) held += std::string(entry->d_name).rfind("held-", 0) == 0;
            ::closedir(dir);
        }
        return held;
    }

private:
    std::string address_;
    std::string out_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// dnsmasq on 127.0.0.1 answering the given "--mx-host=..." records; `port`
// receives its port. Null when it never came up.
inline std::unique_ptr<ChildProcess> StartMxDnsmasq(int& port, const std::vector<std::string>& mx_hosts) {
    return StartOnTestPort(
        port,
        [&](int p) {
            std::vector<std::string> argv{"/usr/sbin/dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--no-resolv",
                                          "--no-hosts", "--bind-interfaces", "--listen-address=127.0.0.1",
                                          "--port=" + std::to_string(p), "--pid-file=", "--user=root", "--group=root"};
            for (const std::string& mx : mx_hosts) argv.push_back("--mx-host=" + mx);
            return argv;
        },
        [](int p, ChildProcess& process) {
            // Ready once it answers a UDP query at all.
            return WaitUntil([&] {
                       if (!process.running()) return true;
                       UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
                       sockaddr_in a{};
                       a.sin_family = AF_INET;
                       a.sin_port = htons(static_cast<uint16_t>(p));
                       ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
                       const unsigned char query[] = {0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0,
                                                      1, 'x', 0, 0, 15, 0, 1};
                       ::sendto(fd.get(), query, sizeof query, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
                       pollfd watch{fd.get(), POLLIN, 0};
                       return ::poll(&watch, 1, 100) > 0;
                   }, kHelperStartLimit) &&
                   process.running();
        });
}

}  // namespace quorvex::testing
