// The to-be-signed packet as the library writes it, read back by the key's
// parser (the software key's): the key must see exactly the transaction, the
// display text and the attached-file field the library was given. Input: see
// README.md.

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input_reader.h"
#include "orva/testing/support.h"
#include "sign_packet.h"
#include "sign_packet_writer.h"

namespace {

namespace fs = std::filesystem;
using orva::fuzz::check;
using orva::fuzz::InputReader;

// The file a packet attaches, rewritten for every input.
const std::string& attachedFile() {
    static const orva::testing::TempDir dir("orva-fuzz-packet");
    static const std::string path = (dir.path() / "attached file.txt").string();
    return path;
}

// The field the key must find: the four counts, the path, the file's base64
// (by openssl).
std::string expectedField(std::string_view path, std::string_view content) {
    std::string base64(4 * ((content.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()),
                                  reinterpret_cast<const unsigned char*>(content.data()),
                                  static_cast<int>(content.size()));
    base64.resize(static_cast<std::size_t>(n));
    const std::size_t b = path.size() + base64.size();
    char counts[33];
    std::snprintf(counts, sizeof counts, "00000000%08zu%08zu%08zu", b + 16, b + 8, path.size());
    return std::string(counts) + std::string(path) + base64;
}

std::string_view textOf(std::span<const std::uint8_t> part) {
    return {reinterpret_cast<const char*>(part.data()), part.size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orva::api;
    InputReader in(data, size);
    const std::uint8_t flags = in.byte();
    const bool textForm = (flags & 1) != 0;
    const bool attach = (flags & 2) != 0;
    const std::string_view transaction = in.bytes(in.number<std::uint16_t>());
    const std::string_view display = in.bytes(in.number<std::uint16_t>());
    const std::string_view content = in.bytes(size);
    const std::string path = attach ? attachedFile() : std::string();
    if (attach) {
        orva::testing::writeFile(path, content);
    }

    const Result<std::size_t> estimate =
        estimateSignPacketSize(transaction.size(), display.size(), path);
    check(static_cast<bool>(estimate));
    std::vector<std::uint8_t> packet(*estimate + 1);
    const auto build = [textForm](std::string_view t, std::string_view d, std::string_view file,
                                  std::span<std::uint8_t> out) {
        return textForm ? buildSignPacketText(t, d, file, out)
                        : buildSignPacketBinary(t, d, file, out);
    };
    const Result<std::size_t> built = build(transaction, display, path, packet);
    check(static_cast<bool>(built));
    const std::size_t length = *built;
    check(length <= *estimate);
    packet.resize(length);

    const auto view = orva::softkey::parseSignPacket(
        textForm ? orva::softkey::kPacketFormText : orva::softkey::kPacketFormBinary, packet);
    check(view.has_value());
    check(textOf(view->transaction) == transaction);
    check(textOf(view->display) == display);
    check(textOf(view->fileField) == (attach ? expectedField(path, content) : std::string()));

    // Exactly that room is enough; a byte less is refused.
    std::vector<std::uint8_t> exact(length);
    const Result<std::size_t> again = build(transaction, display, path, exact);
    check(again && *again == length && exact == packet);
    if (length > 0) {
        std::vector<std::uint8_t> shorter(length - 1, 0x5A);
        check(!build(transaction, display, path, shorter));
    }
    return 0;
}
