// DecodeServerRandom: the 15-byte size, malformed base64 and missing arguments.

#include <gtest/gtest.h>

#include "server_random.h"

namespace orva::api {
namespace {

TEST(ServerRandom, DecodesExactlyFifteenBytes) {
    struct Case {
        const char* text;
        ApiErrorCode result;
    };
    const Case cases[] = {
        {"AAECAwQFBgcICQoLDA0O", kSuccess},               // bytes 0..14
        {"AAECAwQFBgcICQoLDA0ODw==", kInvalidParameter},  // 16 bytes
        {"AAECAwQFBgcICQoLDA0", kBase64DecodeError},      // not a multiple of four
        {"AAECAwQFBgcICQoLDA0*", kBase64DecodeError},     // outside the alphabet
        {"", kInvalidParameter},
        {nullptr, kInvalidParameter},
    };
    for (const Case& c : cases) {
        ServerRandom out{};
        out.fill(0xEE);
        int length = -1;
        EXPECT_EQ(decodeServerRandom(c.text, out, &length), c.result) << (c.text ? c.text : "null");
        if (c.result == kSuccess) {
            EXPECT_EQ(length, 15);
            for (std::size_t i = 0; i < out.size(); ++i)
                EXPECT_EQ(out[i], i);
        } else {
            EXPECT_EQ(length, -1);
            EXPECT_EQ(out[0], 0xEE);
        }
    }
    ServerRandom out{};
    EXPECT_EQ(decodeServerRandom("AAECAwQFBgcICQoLDA0O", out, nullptr), kInvalidParameter);
}

}  // namespace
}  // namespace orva::api
