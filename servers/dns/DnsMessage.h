// The DNS messages of an MX lookup (RFC 1035), built and read without
// sockets. The reader never trusts the reply: every count, length, pointer
// and record size is checked against the bytes received, and a reply that
// does not add up is reported as malformed, never read past its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::dns {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::uint16_t kTypeNs = 2;
inline constexpr std::uint16_t kTypeSoa = 6;
inline constexpr std::uint16_t kTypeMx = 15;
inline constexpr std::uint16_t kClassIn = 1;
// Longest name text the reader hands out (a 127-byte name buffer).
inline constexpr std::size_t kNameCapacity = 127;

std::uint16_t ReadUint16BE(const unsigned char* at);
std::uint32_t ReadUint32BE(const unsigned char* at);

// The QNAME form of a dotted name: each label as a length byte and its
// characters, then a zero byte. Characters are copied as they are.
// Nothing when a label is longer than 63 bytes or the name is empty.
std::optional<std::string> EncodeName(std::string_view dotted);

// An MX query (recursion desired, one question, class IN).
std::optional<std::string> BuildMxQuery(std::uint16_t id, std::string_view domain);

// Reads the (possibly compressed) name at `position` of `message` into
// `name` ("." between labels, "\." for a dot inside a label). Returns the
// bytes the name occupies at the position (through its zero byte, or
// through its first pointer), or nothing when it runs outside the message,
// loops, uses a reserved label type or would exceed capacity - 1 bytes.
std::optional<std::size_t> ReadName(std::string_view message, std::size_t position, std::string& name,
                                    std::size_t capacity = kNameCapacity);

struct MxRecord {
    std::string host;
    int preference = 0;
};

struct MxReply {
    enum class Kind { kAnswers, kReferrals, kMalformed };
    Kind kind = Kind::kMalformed;
    std::vector<MxRecord> answers;       // in the order of the answer section
    std::vector<std::string> referrals;  // name servers to ask next, lower-case
};

// Reads a reply to an MX query. Answers: the MX records of the answer
// section. Referrals (when the answer section is empty): the names of the
// NS records and the primary server of SOA records in the authority
// section. Malformed: anything that does not fit, and an answer section
// without a single MX record.
MxReply ParseMxReply(std::string_view message);

// The lines "host preference" joined by CR LF, as the delivery code walks them.
std::string FormatMxList(const std::vector<MxRecord>& records);

}  // namespace quorvex::dns
