// MD5 for the login authenticator, through OpenSSL's EVP interface.
#include "smsgate/detail/Authenticator.h"

#include <openssl/evp.h>

namespace quorvex::smsgate {

std::optional<std::array<unsigned char, 16>> Md5(std::string_view input) {
    std::array<unsigned char, 16> digest{};
    unsigned int size = 0;
    if (EVP_Digest(input.data(), input.size(), digest.data(), &size, EVP_md5(), nullptr) != 1 ||
        size != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace quorvex::smsgate
