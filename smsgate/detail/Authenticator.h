// The login authenticator: MD5 over the login name, zero bytes, the shared
// secret and the timestamp text. The input layout is a pure function so that
// it can be checked byte for byte.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::smsgate {

inline constexpr std::size_t kMaxLoginNameLength = 100;
inline constexpr std::size_t kMaxSecretLength = 100;
inline constexpr std::size_t kSourceAddrLength = 6;
inline constexpr std::size_t kAuthenticatorGap = 9;

// Bytes 0 to 5: the first six characters of the login name (zero-padded). The
// secret starts 9 bytes after the longer of 6 and the name's length (at most
// 100), so a six-character name is followed by exactly 9 zero bytes; the
// timestamp text follows the secret.
inline std::string BuildAuthenticatorInput(std::string_view login_name, std::string_view secret,
                                           std::string_view timestamp) {
    const std::size_t name_length = std::min(login_name.size(), kMaxLoginNameLength);
    std::string input(kAuthenticatorGap + std::max(kSourceAddrLength, name_length), '\0');
    login_name.substr(0, kSourceAddrLength).copy(input.data(), kSourceAddrLength);
    input.append(secret.substr(0, kMaxSecretLength));
    input.append(timestamp);
    return input;
}

// RFC 1321 MD5 of `input`; nothing when the crypto library refuses MD5
// (for instance under a FIPS-only policy).
std::optional<std::array<unsigned char, 16>> Md5(std::string_view input);

}  // namespace quorvex::smsgate
