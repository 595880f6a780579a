#include "sign_packet.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace orva::softkey {
namespace {

// A packet described element by element, so that a bad packet is a good one
// with one thing changed. Tags are written as two digits in both forms: in the
// binary form "21" is the byte 0x21.
struct Element {
    std::string tag;
    Bytes content;
    std::int64_t lengthDelta = 0;  // added to the length the header announces
};

struct Packet {
    std::uint32_t form = kPacketFormBinary;
    std::string outerTag = "11";
    std::int64_t outerDelta = 0;
    std::vector<Element> inner;
    Bytes trailing;  // after the outer element, not counted by it
};

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes header(std::uint32_t form, const std::string& tag, std::uint64_t length) {
    if (form == kPacketFormBinary) {
        Bytes out = {static_cast<std::uint8_t>(std::stoul(tag, nullptr, 16)), 0, 0, 0, 0};
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(length >> shift));
        }
        return out;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010llu", static_cast<unsigned long long>(length));
    return bytesOf(tag + digits);
}

Bytes encode(const Packet& packet) {
    Bytes body;
    for (const Element& e : packet.inner) {
        const auto length = static_cast<std::int64_t>(e.content.size()) + e.lengthDelta;
        const Bytes h = header(packet.form, e.tag, static_cast<std::uint64_t>(length));
        body.insert(body.end(), h.begin(), h.end());
        body.insert(body.end(), e.content.begin(), e.content.end());
    }
    const auto outer = static_cast<std::int64_t>(body.size()) + packet.outerDelta;
    Bytes out = header(packet.form, packet.outerTag, static_cast<std::uint64_t>(outer));
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), packet.trailing.begin(), packet.trailing.end());
    return out;
}

const Bytes kTransaction = bytesOf("<T><amount>100.00</amount><to>6222</to></T>");
const Bytes kDisplay = bytesOf("Pay 100.00 to 6222?");
const Bytes kFile = bytesOf("%PDF-1.4 attached contract");

// The well-formed packet of a form; the binary form puts the file before the display.
Packet goodPacket(std::uint32_t form, const Bytes& file = kFile) {
    Packet p;
    p.form = form;
    if (form == kPacketFormBinary) {
        p.inner = {{"21", kTransaction}, {"23", file}, {"22", kDisplay}};
    } else {
        p.inner = {{"21", kTransaction}, {"22", kDisplay}, {"23", file}};
    }
    return p;
}

// Index of the element with a tag in a packet's list.
std::size_t at(const Packet& p, const std::string& tag) {
    for (std::size_t i = 0; i < p.inner.size(); ++i) {
        if (p.inner[i].tag == tag) {
            return i;
        }
    }
    throw std::logic_error("no element " + tag);
}

bool within(std::span<const std::uint8_t> part, const Bytes& packet) {
    return part.empty() || (part.data() >= packet.data() &&
                            part.data() + part.size() <= packet.data() + packet.size());
}

class SignPacketTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SignPacketTest, WellFormedPacketsGiveTheirParts) {
    for (const Bytes& file : {kFile, Bytes{}}) {
        const Bytes packet = encode(goodPacket(GetParam(), file));
        const auto view = parseSignPacket(GetParam(), packet);
        ASSERT_TRUE(view) << "file of " << file.size() << " bytes";
        EXPECT_EQ(Bytes(view->transaction.begin(), view->transaction.end()), kTransaction);
        EXPECT_EQ(Bytes(view->display.begin(), view->display.end()), kDisplay);
        EXPECT_EQ(Bytes(view->fileField.begin(), view->fileField.end()), file);
        // The parts are views into the packet, not copies.
        EXPECT_TRUE(within(view->transaction, packet));
        EXPECT_TRUE(within(view->display, packet));
        EXPECT_TRUE(within(view->fileField, packet));
    }
    // Empty elements are still elements.
    Packet empty = goodPacket(GetParam(), {});
    for (Element& e : empty.inner) {
        e.content.clear();
    }
    const auto view = parseSignPacket(GetParam(), encode(empty));
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->transaction.empty() && view->display.empty() && view->fileField.empty());
}

TEST_P(SignPacketTest, RefusesEveryMutation) {
    const std::uint32_t form = GetParam();
    const std::vector<std::pair<std::string, std::function<void(Packet&)>>> mutations = {
        {"outer tag", [](Packet& p) { p.outerTag = "12"; }},
        {"transaction tag", [](Packet& p) { p.inner[at(p, "21")].tag = "24"; }},
        {"display tag", [](Packet& p) { p.inner[at(p, "22")].tag = "20"; }},
        {"file tag", [](Packet& p) { p.inner[at(p, "23")].tag = "33"; }},
        {"display and file swapped",
         [](Packet& p) { std::swap(p.inner[at(p, "22")], p.inner[at(p, "23")]); }},
        {"transaction last",
         [](Packet& p) { std::rotate(p.inner.begin(), p.inner.begin() + 1, p.inner.end()); }},
        {"no file element", [](Packet& p) { p.inner.erase(p.inner.begin() + at(p, "23")); }},
        {"no display element", [](Packet& p) { p.inner.erase(p.inner.begin() + at(p, "22")); }},
        {"element repeated", [](Packet& p) { p.inner.push_back(p.inner.back()); }},
        {"outer length +1", [](Packet& p) { p.outerDelta = 1; }},
        {"outer length -1", [](Packet& p) { p.outerDelta = -1; }},
        {"transaction length +1", [](Packet& p) { p.inner[at(p, "21")].lengthDelta = 1; }},
        {"transaction length -1", [](Packet& p) { p.inner[at(p, "21")].lengthDelta = -1; }},
        {"display length +1", [](Packet& p) { p.inner[at(p, "22")].lengthDelta = 1; }},
        {"display length -1", [](Packet& p) { p.inner[at(p, "22")].lengthDelta = -1; }},
        {"file length +1", [](Packet& p) { p.inner[at(p, "23")].lengthDelta = 1; }},
        {"file length -1", [](Packet& p) { p.inner[at(p, "23")].lengthDelta = -1; }},
        {"trailing byte", [](Packet& p) { p.trailing = {0x00}; }},
        {"byte after the last element, counted by the outer length",
         [](Packet& p) {
             p.inner.back().content.push_back('x');
             p.inner.back().lengthDelta = -1;
         }},
        {"largest transaction length",
         [](Packet& p) {
             Element& e = p.inner[at(p, "21")];
             e.lengthDelta = 0xffffffffLL - static_cast<std::int64_t>(e.content.size());
         }},
    };
    for (const auto& [name, mutate] : mutations) {
        Packet packet = goodPacket(form);
        mutate(packet);
        EXPECT_FALSE(parseSignPacket(form, encode(packet))) << name;
    }
}

TEST_P(SignPacketTest, RefusesEveryProperPrefix) {
    const Bytes packet = encode(goodPacket(GetParam()));
    for (std::size_t size = 0; size < packet.size(); ++size) {
        // A copy of exactly that size, so that a read past it is caught by the sanitizer.
        const Bytes prefix(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(parseSignPacket(GetParam(), prefix)) << size;
    }
}

TEST_P(SignPacketTest, RefusesTheOtherFormAndUnknownForms) {
    const std::uint32_t other = GetParam() == kPacketFormText ? kPacketFormBinary : kPacketFormText;
    const Bytes packet = encode(goodPacket(GetParam()));
    EXPECT_FALSE(parseSignPacket(other, packet));
    EXPECT_FALSE(parseSignPacket(0, packet));
    EXPECT_FALSE(parseSignPacket(3, packet));
}

INSTANTIATE_TEST_SUITE_P(BothForms, SignPacketTest,
                         ::testing::Values(kPacketFormText, kPacketFormBinary),
                         [](const auto& info) {
                             return info.param == kPacketFormText ? "Text" : "Binary";
                         });

TEST(SignPacketHeaders, BinaryHeadersKeepTheirZeroBytes) {
    const Bytes good = encode(goodPacket(kPacketFormBinary));
    ASSERT_TRUE(parseSignPacket(kPacketFormBinary, good));
    // Byte offsets of the four zero bytes of the outer header and of the first element's.
    for (const std::size_t offset : {1u, 2u, 3u, 4u, 10u, 11u, 12u, 13u}) {
        Bytes bad = good;
        bad[offset] = 0x01;
        EXPECT_FALSE(parseSignPacket(kPacketFormBinary, bad)) << offset;
    }
}

TEST(SignPacketHeaders, TextLengthsAreExactlyTenDigits) {
    const Bytes good = encode(goodPacket(kPacketFormText));
    ASSERT_TRUE(parseSignPacket(kPacketFormText, good));
    // The outer length's first digit, then the transaction's last digit.
    for (const std::size_t offset : {2u, 23u}) {
        for (const char c : {' ', '+', '-', 'a', 'A', '/', ':', '\0'}) {
            Bytes bad = good;
            bad[offset] = static_cast<std::uint8_t>(c);
            EXPECT_FALSE(parseSignPacket(kPacketFormText, bad)) << offset << " '" << c << "'";
        }
    }
    // Nine digits: the length swallows the next tag's first digit.
    Bytes nine = good;
    nine.erase(nine.begin() + 2);
    EXPECT_FALSE(parseSignPacket(kPacketFormText, nine));

    // The largest ten-digit length must not overflow into a small one.
    Bytes huge = good;
    std::fill(huge.begin() + 14, huge.begin() + 24, '9');
    EXPECT_FALSE(parseSignPacket(kPacketFormText, huge));
}

}  // namespace
}  // namespace orva::softkey
