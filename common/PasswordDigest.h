// MD5 (RFC 1321), its hexadecimal form, the MD5-crypt scheme ("$1$") and
// the stored form of account and administrator passwords. MD5 itself is
// OpenSSL's; this file only arranges its inputs. Every input is a
// string_view, so any bytes of any length are safe here.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvex {

using Md5Digest = std::array<std::uint8_t, 16>;

// An incremental MD5 computation: Update any number of times, then Final.
class Md5 {
public:
    Md5();
    void Update(std::string_view bytes);
    void Update(const Md5Digest& digest);
    // The digest of everything added; the object starts afresh afterwards.
    Md5Digest Final();

    static Md5Digest Of(std::string_view bytes);

private:
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context_;
};

// 32 lower-case hexadecimal digits of the MD5 of the bytes.
std::string Md5HexDigest(std::string_view text);

// The alphabet of crypt results, one character per 6-bit value.
inline constexpr std::string_view kCryptAlphabet =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Appends n characters of kCryptAlphabet: the lowest 6 bits of value
// first, then the next 6, and so on.
void EncodeCryptChars(std::string& out, std::uint32_t value, int n);

// MD5-crypt: "$1$" + salt + "$" + 22 characters. The salt may come with its
// "$1$" prefix; it ends at the first '$' and is used up to 8 characters.
std::string Md5Crypt(std::string_view password, std::string_view salt);

// The salt of every stored password digest; MD5-crypt uses "pelrosti".
inline constexpr std::string_view kAccountPasswordSalt = "pelrostiwan.hadmuvickel";
inline constexpr std::size_t kStoredPasswordDigestLength = 22;

// mode 0: Md5HexDigest of the password. Any other mode (the one every
// caller uses is 1): the 22 digest characters of the MD5-crypt result with
// kAccountPasswordSalt, in reverse order.
std::string HashAccountPassword(std::string_view password, int mode = 1);

}  // namespace quorvex
