// MD5 through OpenSSL's EVP interface and the MD5-crypt scheme on top of it.
#include "common/PasswordDigest.h"

#include <algorithm>
#include <stdexcept>

#include "common/HexDigits.h"

namespace quorvex {

namespace {

constexpr std::string_view kMd5CryptMagic = "$1$";
constexpr std::size_t kMaxSaltLength = 8;
constexpr int kMd5CryptRounds = 1000;

}  // namespace

Md5::Md5() : context_(EVP_MD_CTX_new()) {
    // Only an out-of-memory condition fails here; there is no digest to
    // return then, so this is the one place that throws.
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available");
}

void Md5::Update(std::string_view bytes) { EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()); }

void Md5::Update(const Md5Digest& digest) { EVP_DigestUpdate(context_.get(), digest.data(), digest.size()); }

Md5Digest Md5::Final() {
    Md5Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
    EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr);
    return digest;
}

Md5Digest Md5::Of(std::string_view bytes) {
    Md5 md5;
    md5.Update(bytes);
    return md5.Final();
}

std::string Md5HexDigest(std::string_view text) {
    const Md5Digest digest = Md5::Of(text);
    std::string out;
    out.reserve(32);
    for (const std::uint8_t byte : digest) {
        out.push_back(kLowerHexDigits[byte >> 4]);
        out.push_back(kLowerHexDigits[byte & 0x0F]);
    }
    return out;
}

void EncodeCryptChars(std::string& out, std::uint32_t value, int n) {
    for (; n > 0; --n) {
        out.push_back(kCryptAlphabet[value & 0x3F]);
        value >>= 6;
    }
}

std::string Md5Crypt(std::string_view password, std::string_view salt) {
    if (salt.starts_with(kMd5CryptMagic)) salt.remove_prefix(kMd5CryptMagic.size());
    salt = salt.substr(0, std::min({salt.find('$'), salt.size(), kMaxSaltLength}));

    Md5 a;
    a.Update(password);
    a.Update(kMd5CryptMagic);
    a.Update(salt);

    Md5 b;
    b.Update(password);
    b.Update(salt);
    b.Update(password);
    const Md5Digest alternate = b.Final();
    for (std::size_t n = password.size(); n > 0; n -= std::min<std::size_t>(n, 16)) {
        a.Update(std::string_view(reinterpret_cast<const char*>(alternate.data()), std::min<std::size_t>(n, 16)));
    }

    // The scheme's odd step: a zero byte for each set bit of the length,
    // the password's first character for each clear one.
    const std::string_view first = password.empty() ? std::string_view("\0", 1) : password.substr(0, 1);
    for (std::size_t i = password.size(); i > 0; i >>= 1) {
        a.Update((i & 1) ? std::string_view("\0", 1) : first);
    }

    Md5Digest f = a.Final();
    Md5 c;
    for (int i = 0; i < kMd5CryptRounds; ++i) {
        if (i & 1) c.Update(password); else c.Update(f);
        if (i % 3 != 0) c.Update(salt);
        if (i % 7 != 0) c.Update(password);
        if (i & 1) c.Update(f); else c.Update(password);
        f = c.Final();
    }

    std::string out;
    out.reserve(kMd5CryptMagic.size() + salt.size() + 1 + 22);
    out.append(kMd5CryptMagic).append(salt).push_back('$');
    auto triple = [&f](int x, int y, int z) {
        return (std::uint32_t{f[x]} << 16) | (std::uint32_t{f[y]} << 8) | std::uint32_t{f[z]};
    };
    EncodeCryptChars(out, triple(0, 6, 12), 4);
    EncodeCryptChars(out, triple(1, 7, 13), 4);
    EncodeCryptChars(out, triple(2, 8, 14), 4);
    EncodeCryptChars(out, triple(3, 9, 15), 4);
    EncodeCryptChars(out, triple(4, 10, 5), 4);
    EncodeCryptChars(out, f[11], 2);
    return out;
}

std::string HashAccountPassword(std::string_view password, int mode) {
    if (mode == 0) return Md5HexDigest(password);
    const std::string crypted = Md5Crypt(password, kAccountPasswordSalt);
    std::string digest = crypted.substr(crypted.rfind('$') + 1);
    std::reverse(digest.begin(), digest.end());
    return digest;
}

}  // namespace quorvex
