// Virus-scan hand-off through an anti-virus POP3 proxy.
#include "servers/filters/VirusScan.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/FileSteps.h"
#include "common/TemporaryFile.h"
#include "common/UniqueFd.h"
#include "common/net/HostConnect.h"

namespace quorvex {

namespace {

std::mutex VirusScanLock;

bool ReadOk(int fd, const SocketTimeouts& timeouts) {
    std::string line;
    return HasLine(ReceiveLine(fd, line, kTextLineCapacity, timeouts)) && StartsWithNoCase(line, "+OK");
}

}  // namespace

void ScanMailForViruses(const std::string& path, const CServerSettings& settings, const SocketTimeouts& timeouts) {
    std::lock_guard guard(VirusScanLock);
    std::string local_address;
    UniqueFd gate = ConnectToHost(settings.GateAddress, settings.GatePort, ProxySettings{}, &local_address, timeouts);
    if (!gate) return;
    const int fd = gate.get();
    if (!ReadOk(fd, timeouts)) return;
    // A proxy on another host needs our address to reach our POP3 server.
    const std::string user = settings.GateAddress == "127.0.0.1" ? "USER _ANTI_VIRUS" : "USER _ANTI_VIRUS#" + local_address;
    if (!SendLine(fd, user) || !ReadOk(fd, timeouts)) return;
    if (!SendLine(fd, "PASS " + path) || !ReadOk(fd, timeouts)) return;
    std::string line;
    if (!SendLine(fd, "STAT")) return;
    ReceiveLine(fd, line, kTextLineCapacity, timeouts);
    if (!SendLine(fd, "LIST")) return;
    for (int i = 0; i < 3; ++i) ReceiveLine(fd, line, kTextLineCapacity, timeouts);
    if (!SendLine(fd, "RETR 1") || !ReadOk(fd, timeouts)) return;

    const std::string work_path = path + ".bak";
    UniqueFd work_fd(::open(work_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!work_fd) return;  // not ours to delete
    TemporaryFile work(work_path, std::move(work_fd));
    while (true) {
        if (!HasLine(ReceiveLine(fd, line, kTextLineCapacity, timeouts))) return;
        if (line == ".\r\n") break;
        if (SameName(line, "NOOP\r\n") || StartsWithNoCase(line, "X-NortonAV-TimeoutProtection:")) continue;
        if (!fs::WriteAll(work.fd().get(), line, work_path)) return;
    }
    if (!fs::Sync(work.fd().get(), work_path) || !fs::Close(work.fd(), work_path)) return;
    if (SendLine(fd, "QUIT")) ReceiveLine(fd, line, kTextLineCapacity, timeouts);
    // The scanned text replaces the message in one step; the work file is
    // gone with it.
    work.MoveTo(path);
}

}  // namespace quorvex
