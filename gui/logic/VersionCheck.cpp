#include "gui/logic/VersionCheck.h"

#include <charconv>
#include <vector>

#include "common/net/SocketIo.h"

namespace quorvex::gui {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view NextToken(std::string_view& text) {
    while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
    std::size_t end = 0;
    while (end < text.size() && !Blank(text[end])) ++end;
    const std::string_view token = text.substr(0, end);
    text.remove_prefix(end);
    return token;
}

// "%d": an optional sign and digits at the start of the token.
std::optional<int> LeadingInt(std::string_view token) {
    int value = 0;
    const char* first = token.data();
    if (!token.empty() && token.front() == '+') ++first;
    const auto [end, error] = std::from_chars(first, token.data() + token.size(), value);
    if (error != std::errc() || end == first) return std::nullopt;
    return value;
}

}  // namespace

std::optional<VersionReply> ParseVersionReply(std::string_view http_reply) {
    http_reply = http_reply.substr(0, kMaxVersionReply);
    std::size_t body = http_reply.find("\r\n\r\n");
    std::size_t skip = 4;
    if (const std::size_t lf = http_reply.find("\n\n"); lf != std::string_view::npos && lf < body) {
        body = lf;
        skip = 2;
    }
    if (body == std::string_view::npos) return std::nullopt;
    std::string_view text = http_reply.substr(body + skip);
    VersionReply reply;
    const auto flag = LeadingInt(NextToken(text));
    if (!flag) return std::nullopt;
    reply.flag = *flag;
    if (const auto number = LeadingInt(NextToken(text))) {
        reply.number = *number;
        const std::string_view date = NextToken(text);
        reply.date = std::string(date.substr(0, kMaxVersionDate));
    }
    return reply;
}

VersionVerdict JudgeVersion(const VersionReply& reply, std::string_view build_date) {
    if (reply.flag == 0) return VersionVerdict::kNothing;
    if (reply.flag != 1) return VersionVerdict::kNewUnknown;
    if (reply.date.empty()) return VersionVerdict::kNothing;
    return reply.date == build_date ? VersionVerdict::kLatest : VersionVerdict::kNewVersion;
}

std::optional<VersionHost> ParseVersionHost(std::string_view value) {
    while (!value.empty() && Blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && Blank(value.back())) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    VersionHost host;
    const auto colon = value.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string_view port = value.substr(colon + 1);
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
            return std::nullopt;
        }
        host.port = number;
        value = value.substr(0, colon);
    }
    for (char c : value) {
        if (Blank(c) || c == '/' || static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    }
    if (value.empty()) return std::nullopt;
    host.host = std::string(value);
    return host;
}

std::optional<std::string> FetchVersionReply(const VersionHost& host, const ProxySettings& proxy,
                                             std::stop_token stop) {
    const SocketTimeouts connecting{kVersionSliceMs, kVersionConnectMs / kVersionSliceMs};
    const UniqueFd fd = ConnectToHost(host.host, host.port, proxy, nullptr, connecting);
    if (!fd || stop.stop_requested()) return std::nullopt;
    const std::string request =
        "GET " + std::string(kVersionPath) + " HTTP/1.0\r\nHost: " + host.host + "\r\n\r\n";
    if (!SendText(fd.get(), request)) return std::nullopt;
    std::string reply;
    std::vector<char> buffer(kMaxVersionReply);
    // One slice per wait, so that a stop request is seen between them.
    const SocketTimeouts one_slice{kVersionSliceMs, 0};
    int idle_ms = 0;
    while (reply.size() < kMaxVersionReply) {
        std::size_t received = 0;
        const IoStatus status =
            ReceiveSome(fd.get(), buffer.data(), kMaxVersionReply - reply.size(), received, one_slice);
        if (stop.stop_requested()) return std::nullopt;
        if (status == IoStatus::kTimeout && (idle_ms += kVersionSliceMs) < kVersionIdleMs) continue;
        if (status != IoStatus::kOk) break;
        idle_ms = 0;
        reply.append(buffer.data(), received);
    }
    if (reply.empty()) return std::nullopt;
    return reply;
}

}  // namespace quorvex::gui
