#pragma once

// The text the stand-in library makes for a scripted "length": base64
// characters with a period of 61, so that a piece out of place shows (the
// piece size is a multiple of 64, not of 61).

#include <algorithm>
#include <cstddef>
#include <string>

namespace orva::fake_api {

inline std::string fakeText(std::size_t length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345678";
    std::string text(kAlphabet, 61);
    // Doubling copies: a result of 100 MB is made in a few copies.
    text.reserve(length);
    while (text.size() < length) {
        text.append(text, 0, std::min(text.size(), length - text.size()));
    }
    text.resize(length);
    return text;
}

}  // namespace orva::fake_api
