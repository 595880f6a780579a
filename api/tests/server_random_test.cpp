// DecodeServerRandom: the 15-byte size, malformed base64 and a missing text.

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
        const Result<ServerRandom> out = decodeServerRandom(c.text);
        EXPECT_EQ(out.code(), c.result) << (c.text ? c.text : "null");
        if (c.result == kSuccess) {
            ASSERT_TRUE(out);
            for (std::size_t i = 0; i < out->size(); ++i)
                EXPECT_EQ((*out)[i], i);
        }
    }
}

}  // namespace
}  // namespace orva::api
