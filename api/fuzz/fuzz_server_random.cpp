// The server random a page passes with an envelope, decoded as the
// installation decodes it. Input: see README.md.

#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base64_codec.h"
#include "input_reader.h"
#include "server_random.h"

namespace {

using orva::fuzz::check;
using namespace orva;
using namespace orva::api;

bool inAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// Whole groups of four, of the alphabet but for one or two '=' at the end.
bool wellFormedBase64(std::string_view text) {
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    return text.size() % 4 == 0 &&
           std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding), inAlphabet);
}

// The 15 bytes of a text that is 20 alphabet characters, as openssl decodes it.
ServerRandom decodedByOpenssl(std::string_view text) {
    unsigned char out[15] = {};
    check(EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(text.data()), 20) == 15);
    ServerRandom random{};
    std::copy(std::begin(out), std::end(out), random.begin());
    return random;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The text as a page's NUL-terminated string: up to the first NUL.
    const std::string text(reinterpret_cast<const char*>(data),
                           std::find(data, data + size, 0) - data);
    const Result<ServerRandom> out = decodeServerRandom(text.c_str());

    // Exactly 20 characters of the alphabet, no padding, is 15 bytes.
    const bool fifteen = text.size() == 20 && std::all_of(text.begin(), text.end(), inAlphabet);
    check((out.code() == kSuccess) == fifteen);
    if (out) {
        check(*out == decodedByOpenssl(text));
    } else {
        // Not base64 at all is kBase64DecodeError; base64 of another size, or nothing, is
        // kInvalidParameter.
        check(out.code() ==
              (text.empty() || wellFormedBase64(text) ? kInvalidParameter : kBase64DecodeError));
    }

    // Any 15 bytes, encoded by the library, come back unchanged.
    if (size >= 15) {
        const std::string encoded = base64Encode(std::span(data, 15));
        const Result<ServerRandom> back = decodeServerRandom(encoded.c_str());
        check(back && std::equal(back->begin(), back->end(), data));
    }
    return 0;
}
