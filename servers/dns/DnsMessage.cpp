// DNS query building and bounded reply reading.
#include "servers/dns/DnsMessage.h"


#include "common/AsciiCase.h"

namespace quorvex::dns {
namespace {

const unsigned char* Bytes(std::string_view message) { return reinterpret_cast<const unsigned char*>(message.data()); }

void AppendUint16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
}

// Walks one resource record at `position`; false when it does not fit.
struct RecordHead {
    std::uint16_t type = 0;
    std::size_t rdata = 0;  // offset of the record data
    std::size_t end = 0;    // offset just behind the record
};

std::optional<RecordHead> ReadRecordHead(std::string_view message, std::size_t position) {
    std::string owner;
    const auto owner_size = ReadName(message, position, owner);
    if (!owner_size) return std::nullopt;
    const std::size_t fixed = position + *owner_size;
    if (message.size() < fixed + 10) return std::nullopt;
    RecordHead head;
    head.type = ReadUint16BE(Bytes(message) + fixed);
    const std::uint16_t rdlength = ReadUint16BE(Bytes(message) + fixed + 8);
    head.rdata = fixed + 10;
    head.end = head.rdata + rdlength;
    if (head.end > message.size()) return std::nullopt;
    return head;
}

}  // namespace

std::uint16_t ReadUint16BE(const unsigned char* at) { return static_cast<std::uint16_t>((at[0] << 8) | at[1]); }

std::uint32_t ReadUint32BE(const unsigned char* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

std::optional<std::string> EncodeName(std::string_view dotted) {
    // A fully qualified name ("example.org.") ends in the root label: drop its dot.
    if (!dotted.empty() && dotted.back() == '.') dotted.remove_suffix(1);
    if (dotted.empty()) return std::nullopt;
    std::string out;
    out.reserve(dotted.size() + 2);
    while (true) {
        const std::size_t dot = dotted.find('.');
        const std::string_view label = dotted.substr(0, dot);
        if (label.empty() || label.size() > 63) return std::nullopt;  // "a..b" would end the name early
        out += static_cast<char>(label.size());
        out.append(label);
        if (dot == std::string_view::npos) break;
        dotted.remove_prefix(dot + 1);
    }
    out += '\0';
    return out;
}

std::optional<std::string> BuildMxQuery(std::uint16_t id, std::string_view domain) {
    const auto qname = EncodeName(domain);
    if (!qname) return std::nullopt;
    std::string query;
    query.reserve(kHeaderSize + qname->size() + 4);
    AppendUint16(query, id);
    AppendUint16(query, 0x0100);  // recursion desired
    AppendUint16(query, 1);       // QDCOUNT
    AppendUint16(query, 0);
    AppendUint16(query, 0);
    AppendUint16(query, 0);
    query += *qname;
    AppendUint16(query, kTypeMx);
    AppendUint16(query, kClassIn);
    return query;
}

std::optional<std::size_t> ReadName(std::string_view message, std::size_t position, std::string& name,
                                    std::size_t capacity) {
    name.clear();
    const unsigned char* bytes = Bytes(message);
    const std::size_t length = message.size();
    std::size_t at = position;
    std::size_t walked = 0;  // every byte looked at; bounds the walk through pointer loops
    std::optional<std::size_t> occupied;
    for (;;) {
        if (at >= length) return std::nullopt;
        const unsigned char label = bytes[at];
        if (label == 0) {
            if (!occupied) occupied = at + 1 - position;
            return occupied;
        }
        if (label >= 192) {
            if (at + 1 >= length) return std::nullopt;
            const std::size_t target = (std::size_t{label & 0x3Fu} << 8) | bytes[at + 1];
            if (!occupied) occupied = at + 2 - position;
            walked += 2;
            if (target >= length || walked >= length) return std::nullopt;
            at = target;
            continue;
        }
        if (label >= 64) return std::nullopt;  // the reserved label types
        if (at + 1 + label > length) return std::nullopt;
        if (!name.empty()) name += '.';  // between labels
        for (std::size_t i = 0; i < label; ++i) {
            const char c = static_cast<char>(bytes[at + 1 + i]);
            if (c == '.') name += '\\';
            name += c;
        }
        if (name.size() + 1 > capacity) return std::nullopt;
        walked += 1 + label;
        at += 1 + label;
    }
}

MxReply ParseMxReply(std::string_view message) {
    MxReply reply;
    if (message.size() < kHeaderSize) return reply;
    const unsigned char* bytes = Bytes(message);
    const std::uint16_t questions = ReadUint16BE(bytes + 4);
    const std::uint16_t answers = ReadUint16BE(bytes + 6);
    const std::uint16_t authorities = ReadUint16BE(bytes + 8);

    std::size_t at = kHeaderSize;
    std::string name;
    for (std::uint16_t i = 0; i < questions; ++i) {
        const auto size = ReadName(message, at, name);
        if (!size || at + *size + 4 > message.size()) return reply;
        at += *size + 4;
    }

    if (answers != 0) {
        for (std::uint16_t i = 0; i < answers; ++i) {
            const auto head = ReadRecordHead(message, at);
            if (!head) return reply;
            if (head->type == kTypeMx) {
                if (head->end < head->rdata + 3) return reply;
                const int preference = ReadUint16BE(bytes + head->rdata);
                const auto size = ReadName(message, head->rdata + 2, name);
                if (!size || head->rdata + 2 + *size > head->end) return reply;
                reply.answers.push_back({name, preference});
            }
            at = head->end;
        }
        if (!reply.answers.empty()) reply.kind = MxReply::Kind::kAnswers;
        return reply;
    }

    for (std::uint16_t i = 0; i < authorities; ++i) {
        const auto head = ReadRecordHead(message, at);
        if (!head) return reply;
        if (head->type == kTypeNs || head->type == kTypeSoa) {
            // An NS record's data is the server; an SOA's starts with the
            // zone's primary server.
            const auto size = ReadName(message, head->rdata, name);
            if (!size || head->rdata + *size > head->end) return reply;
            if (!name.empty()) reply.referrals.push_back(AsciiLowerCase(name));
        }
        at = head->end;
    }
    reply.kind = MxReply::Kind::kReferrals;
    return reply;
}

std::string FormatMxList(const std::vector<MxRecord>& records) {
    std::string text;
    for (const MxRecord& record : records) {
        if (!text.empty()) text += "\r\n";
        text += record.host;
        text += ' ';
        text += std::to_string(record.preference);
    }
    return text;
}

}  // namespace quorvex::dns
