// Header-block parse of a message file into a MailSummary, and the sender
// domain check.
#include "mailmodel/summary/MailSummary.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "common/AsciiCase.h"
#include "common/ByteScramble.h"
#include "common/EncodedWords.h"
#include "common/ServerSettings.h"
#include "common/TextHelpers.h"
#include "common/UniqueFd.h"
#include "common/net/PeerAddress.h"
#include "mailmodel/summary/HeaderDecoding.h"
#include "mailmodel/summary/SenderCheckServices.h"

namespace quorvex {

namespace {

// A header block longer than this is not read further: the fields that
// matter sit near the top, and the cap bounds memory for hostile input.
constexpr std::size_t kMaxHeaderBlock = 1024 * 1024;

std::string Bounded(std::string_view s, std::size_t limit) { return std::string(s.substr(0, limit)); }

// The logical header lines of a block: folded continuation lines joined to
// the line they continue, line ends removed, stopping at the empty line.
std::vector<std::string> HeaderLines(std::string_view block) {
    std::vector<std::string> lines;
    while (!block.empty()) {
        const auto eol = block.find('\n');
        std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 1);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if ((line.front() == ' ' || line.front() == '\t') && !lines.empty())
            lines.back().append(line);
        else
            lines.emplace_back(line);
    }
    return lines;
}

// A dotted address in network byte order, as the resolver gives them.
std::optional<std::uint32_t> NetworkOrderIpv4(std::string_view text) {
    const auto address = ParseIpv4(text);
    if (!address) return std::nullopt;
    return htonl(*address);
}

bool SameNetwork(std::uint32_t a, std::uint32_t b) {
    // Network byte order: the first two bytes in memory are a.b of a.b.c.d.
    const auto* x = reinterpret_cast<const unsigned char*>(&a);
    const auto* y = reinterpret_cast<const unsigned char*>(&b);
    return x[0] == y[0] && x[1] == y[1];
}

// True when one of the sender domain's mail hosts (or the domain itself)
// has an address in the a.b network of the host that handed the message over.
bool SenderDomainMatches(std::string_view domain, std::uint32_t received_from, const SummaryCheckOptions& options,
                         SenderCheckServices& services) {
    std::string answer;
    if (services.QueryMx(domain, options.dns_server, answer) == 0) {
        answer.clear();
        services.QueryMx(domain, options.dns_secondary, answer);
    }
    if (!answer.empty()) answer.append("\n");
    answer.append(domain).append(" 10");
    std::string_view rest = answer;
    while (!rest.empty()) {
        const auto eol = rest.find('\n');
        std::string_view entry = TrimChars(rest.substr(0, eol), "\r ");
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        entry = entry.substr(0, std::min(entry.find(' '), static_cast<std::size_t>(1023)));
        if (entry.empty()) continue;
        if (const auto address = NetworkOrderIpv4(entry)) {
            if (SameNetwork(*address, received_from)) return true;
            continue;
        }
        for (const std::uint32_t address : services.ResolveHost(entry))
            if (SameNetwork(address, received_from)) return true;
    }
    return false;
}

std::mutex g_services_lock;
std::shared_ptr<SenderCheckServices> g_services;

}  // namespace

void InstallSenderCheckServices(std::shared_ptr<SenderCheckServices> services) {
    std::lock_guard guard(g_services_lock);
    g_services = std::move(services);
}

std::shared_ptr<SenderCheckServices> InstalledSenderCheckServices() {
    std::lock_guard guard(g_services_lock);
    return g_services;
}

void ParseSummaryHeaders(std::string_view header_block, MailSummary& summary, const SummaryCheckOptions& options,
                         SenderCheckServices* services) {
    std::string received_address;
    bool received_host_found = false;
    std::string return_path;
    bool have_return_path = false;
    long spam = 0;
    for (std::string& line : HeaderLines(header_block)) {
        line = DecodeEncodedWords(line);
        const std::string_view view = line;
        const auto value = [&](std::size_t prefix) { return TrimChars(view.substr(prefix), " \t"); };
        if (StartsWithNoCase(view, "subject:")) {
            summary.Subject = Bounded(value(8), kSummaryFieldLength);
        } else if (StartsWithNoCase(view, "cc:")) {
            summary.Cc = Bounded(value(3), kSummaryFieldLength);
        } else if (StartsWithNoCase(view, "to:")) {
            summary.To = Bounded(value(3), kSummaryFieldLength);
        } else if (StartsWithNoCase(view, "from:")) {
            summary.From = Bounded(value(5), kSummaryFieldLength);
        } else if (StartsWithNoCase(view, "date:")) {
            const std::string text = Bounded(value(5), kSummaryFieldLength);
            summary.Date = ConvertMailDate(text).value_or(text);
        } else if (StartsWithNoCase(view, "message-id:")) {
            summary.MessageId = std::string(TrimChars(TrimChars(view.substr(11), " \t").substr(0, kSummaryMessageIdLength), " \t<>"));
        } else if (StartsWithNoCase(view, "received:")) {
            if (received_host_found) continue;
            const auto open = view.find('[');
            const auto close = view.find(']');
            if (open != std::string_view::npos && close != std::string_view::npos && open < close)
                received_address = Bounded(view.substr(open + 1, close - open - 1), 255);
            const auto from = view.find("from ", 9);
            const auto paren = from == std::string_view::npos ? from : view.find('(', from);
            if (paren != std::string_view::npos)
                received_host_found = !TrimChars(view.substr(from + 5, paren - from - 5), " \t").empty();
        } else if (StartsWithNoCase(view, "return-path:")) {
            if (have_return_path) continue;
            return_path = AsciiLowerCase(Bounded(value(12), kSummaryFieldLength));
            have_return_path = !return_path.empty();
        } else if (StartsWithNoCase(view, "x-spam:")) {
            spam = std::strtol(std::string(value(7)).c_str(), nullptr, 10);
        }
    }

    if (return_path == "<>") summary.Flags |= kSummaryNullReturnPath;
    std::string sender(TrimChars(TrimChars(return_path, "<"), ">"));
    summary.ReturnPath = sender.empty() ? summary.From : sender;

    if (!options.anti_spam) return;
    // An empty entry (";;" or a trailing ";") would match every sender and
    // switch the check off by accident, so it is skipped.
    std::string_view list = options.white_list;
    while (!list.empty()) {
        const auto semi = list.find(';');
        const std::string_view entry = list.substr(0, semi);
        list = semi == std::string_view::npos ? std::string_view() : list.substr(semi + 1);
        if (entry.empty()) continue;
        if (summary.ReturnPath.find(entry) != std::string::npos || received_address.find(entry) != std::string::npos)
            return;
    }
    const auto at = summary.ReturnPath.find('@');
    const std::uint32_t received_from = NetworkOrderIpv4(received_address).value_or(0);
    if (services && at != std::string::npos && services->ClassifyAddress(summary.ReturnPath) != ADDRESS_LOCAL_ACCOUNT &&
        !(received_from != 0 && services->IsLocalAddress(received_from))) {
        const std::string domain = summary.ReturnPath.substr(at + 1);
        if (!SenderDomainMatches(domain, received_from, options, *services)) summary.Flags |= kSummarySuspectSender;
    }
    if (spam != 0) summary.Flags |= kSummarySuspectSender;
}

bool ParseMailSummary(const std::string& path, MailSummary& summary, bool scrambled, std::uint8_t key,
                      const SummaryCheckOptions& options, SenderCheckServices* services) {
    summary = MailSummary{};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return false;
    summary.Size = st.st_size;
    // Read until the empty line that ends the header block (or the cap).
    std::string block;
    char chunk[8192];
    while (block.size() < kMaxHeaderBlock) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        const std::size_t scan_from = block.size() >= 3 ? block.size() - 3 : 0;
        if (scrambled) ScrambleBytes(chunk, static_cast<std::size_t>(n), key);
        block.append(chunk, static_cast<std::size_t>(n));
        const bool empty_first_line = block.front() == '\n' || block.rfind("\r\n", 0) == 0;
        if (empty_first_line || block.find("\n\r\n", scan_from) != std::string::npos ||
            block.find("\n\n", scan_from) != std::string::npos)
            break;
    }
    ParseSummaryHeaders(block, summary, options, services);
    return true;
}

SummaryCheckOptions SummaryCheckOptionsFromSettings() {
    const auto settings = Settings();
    return {settings->AntiSpamEnable != 0, settings->WhiteList, settings->DNS, settings->DNSSecondary};
}

bool ParseMailSummary(const std::string& path, MailSummary& summary, bool scrambled, std::uint8_t key) {
    const auto services = InstalledSenderCheckServices();
    return ParseMailSummary(path, summary, scrambled, key, SummaryCheckOptionsFromSettings(), services.get());
}

}  // namespace quorvex
