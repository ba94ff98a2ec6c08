// The simulated camera's login checks against the published examples of RFC 2617 and RFC 4648,
// not against the driver's own MD5 and Base64.
#include <gtest/gtest.h>

#include "camsim/auth_crypto.h"
#include "camsim/credentials.h"

namespace camsim {
namespace {

TEST(CamsimCredentials, DigestOfTheRfc2617Example) {
    const AuthParameters parameters = ParseAuthParameters(
        "username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
        "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    EXPECT_TRUE(DigestMatches(parameters, "Mufasa", "testrealm@host.com", "Circle Of Life", "GET"));
    EXPECT_FALSE(DigestMatches(parameters, "Mufasa", "testrealm@host.com", "Circle of Life", "GET"));
    EXPECT_FALSE(DigestMatches(parameters, "Mufasa", "testrealm@host.com", "Circle Of Life", "POST"));
}

TEST(CamsimCredentials, BasicOfTheRfc2617Example) {
    EXPECT_TRUE(BasicMatches("QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame"));
    EXPECT_FALSE(BasicMatches("QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame!"));
    // A camera takes strict Base64 only: no padding dropped, nothing outside the alphabet.
    EXPECT_FALSE(BasicMatches("QWxhZGRpbjpvcGVuIHNlc2FtZQ", "Aladdin", "open sesame"));
    EXPECT_FALSE(BasicMatches("QWxhZGRp*jpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame"));
}

TEST(CamsimCredentials, Base64OfTheRfc4648Vectors) {
    const char* const plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* const encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t i = 0; i < std::size(plain); ++i) {
        const std::string text = plain[i];
        EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size()), encoded[i]);
        std::string decoded;
        EXPECT_TRUE(Base64Decode(encoded[i], decoded, 16)) << encoded[i];
        EXPECT_EQ(decoded, text);
    }
    std::string decoded;
    EXPECT_FALSE(Base64Decode("Zm9vYmFy", decoded, 5));
    EXPECT_TRUE(decoded.empty());
}

}  // namespace
}  // namespace camsim
