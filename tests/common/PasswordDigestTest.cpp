// MD5, MD5-crypt and the stored password digest, checked against the real
// md5sum, `openssl passwd -1` and libcrypt.
#include <crypt.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "common/PasswordDigest.h"
#include "support/CommandOutput.h"

namespace quorvex {
namespace {

using testing::CommandOutput;

// Passwords that exercise the length-dependent steps: empty, short, a
// block boundary, longer than one MD5 block, and bytes above 127.
const std::vector<std::string> kPasswords = {
    "", "a", "secret", "0123456789abcdef", "0123456789abcdef0", std::string(64, 'x'), std::string(200, 'q'),
    "p\xE4ss w\xF6rd:$1$", "with\ttab",
};

TEST(PasswordDigest, Md5HexMatchesMd5sum) {
    for (const std::string& text : kPasswords) {
        const auto reference = CommandOutput({"md5sum"}, text);
        ASSERT_TRUE(reference) << "md5sum failed";
        EXPECT_EQ(Md5HexDigest(text), reference->substr(0, 32)) << text;
    }
    // A long input that crosses many blocks in one update.
    const std::string big(1 << 20, '\xA5');
    EXPECT_EQ(Md5HexDigest(big), CommandOutput({"md5sum"}, big)->substr(0, 32));
}

TEST(PasswordDigest, IncrementalMd5EqualsOneShot) {
    Md5 md5;
    md5.Update("hello ");
    md5.Update("world");
    EXPECT_EQ(md5.Final(), Md5::Of("hello world"));
    // Final starts a new computation.
    md5.Update("abc");
    EXPECT_EQ(md5.Final(), Md5::Of("abc"));
}

TEST(PasswordDigest, Md5CryptMatchesOpensslAndLibcrypt) {
    const std::vector<std::string> salts = {"pelrosti", "ab", "saltsalt", "x"};
    for (const std::string& salt : salts) {
        for (const std::string& password : kPasswords) {
            const std::string ours = Md5Crypt(password, salt);
            const auto reference = CommandOutput({"openssl", "passwd", "-1", "-salt", salt, password});
            ASSERT_TRUE(reference) << "openssl passwd failed";
            EXPECT_EQ(ours + "\n", *reference) << "salt " << salt << " password " << password;

            crypt_data data{};
            const std::string setting = "$1$" + salt;
            const char* crypted = crypt_r(password.c_str(), setting.c_str(), &data);
            ASSERT_NE(crypted, nullptr);
            EXPECT_STREQ(ours.c_str(), crypted);
        }
    }
}

TEST(PasswordDigest, Md5CryptSaltRules) {
    const std::string base = Md5Crypt("pw", "pelrosti");
    EXPECT_EQ(Md5Crypt("pw", "pelrostiwan.hadmuvickel"), base);  // cut at 8 characters
    EXPECT_EQ(Md5Crypt("pw", "$1$pelrosti"), base);              // magic prefix skipped
    EXPECT_EQ(Md5Crypt("pw", "pelrosti$more"), base);            // ends at '$'
    EXPECT_EQ(Md5Crypt("pw", "pel$rosti").substr(0, 7), "$1$pel$");
    EXPECT_EQ(Md5Crypt("pw", "").substr(0, 4), "$1$$");
    EXPECT_EQ(base.size(), 3 + 8 + 1 + 22u);
}

TEST(PasswordDigest, EncodeCryptCharsTakesLowBitsFirst) {
    std::string out;
    EncodeCryptChars(out, 0, 2);
    EncodeCryptChars(out, 1 | 2u << 6 | 63u << 12, 3);
    EncodeCryptChars(out, 0xFFFFFF, 4);
    EXPECT_EQ(out, "../0zzzzz");
}

TEST(PasswordDigest, StoredDigestIsTheReversedCryptTail) {
    for (const std::string& password : kPasswords) {
        const std::string stored = HashAccountPassword(password, 1);
        ASSERT_EQ(stored.size(), kStoredPasswordDigestLength) << password;
        EXPECT_EQ(stored.find_first_not_of(kCryptAlphabet), std::string::npos);

        const auto reference = CommandOutput({"openssl", "passwd", "-1", "-salt", "pelrostiwan.hadmuvickel", password});
        ASSERT_TRUE(reference);
        std::string tail = reference->substr(reference->rfind('$') + 1, 22);
        std::reverse(tail.begin(), tail.end());
        EXPECT_EQ(stored, tail) << password;
    }
    EXPECT_EQ(HashAccountPassword("secret", 7), HashAccountPassword("secret", 1));
    EXPECT_EQ(HashAccountPassword("secret", 0), Md5HexDigest("secret"));
    EXPECT_NE(HashAccountPassword("secret"), HashAccountPassword("Secret"));
}

}  // namespace
}  // namespace quorvex
