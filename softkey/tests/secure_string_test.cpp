// A secret string destroyed, grown or moved from leaves none of its characters
// behind: neither in the object's own bytes nor in any heap block it gave back.
// This program replaces the global allocation functions to look at every block
// as it is freed, so it runs on its own.

#include <gtest/gtest.h>
#include <malloc.h>
#include <string.h>

#include <cstdlib>
#include <new>
#include <string_view>

#include "secure_bytes.h"

namespace {

// The secret whose traces are looked for in every block freed meanwhile.
std::string_view gWatched;
int gUnwipedBlocks = 0;

// Whether bytes hold any four consecutive characters of secret.
bool holdsARunOf(const void* bytes, std::size_t size, std::string_view secret) {
    constexpr std::size_t kRun = 4;
    for (std::size_t at = 0; at + kRun <= secret.size(); ++at) {
        if (memmem(bytes, size, secret.data() + at, kRun) != nullptr) {
            return true;
        }
    }
    return false;
}

void inspectFreed(void* block, std::size_t size) noexcept {
    if (block != nullptr && !gWatched.empty() && holdsARunOf(block, size, gWatched)) {
        ++gUnwipedBlocks;
    }
}

// Makes the compiler take the bytes as the destructor left them: it may
// otherwise treat an object's storage as undefined once its lifetime ended.
void observe(void* bytes) noexcept {
    asm volatile("" : : "r"(bytes) : "memory");
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    inspectFreed(block, block != nullptr ? malloc_usable_size(block) : 0);
    std::free(block);
}
void operator delete(void* block, std::size_t size) noexcept {
    inspectFreed(block, size);
    std::free(block);
}

namespace orva::softkey {
namespace {

struct Case {
    const char* name;
    std::string_view secret;
    void (*use)(SecureString& text);  // what happens to it before it is destroyed
};

void keep(SecureString& text) {
    EXPECT_EQ(std::string_view(text.c_str()), std::string_view(text.data(), text.size()));
}
// No copy of the secret is made here: it would be a block of its own.
void grow(SecureString& text) {
    const std::size_t before = text.size();
    const std::string_view more = "-and-a-great-deal-more-than-fits-inside";
    text.append(more.data(), more.size());
    EXPECT_EQ(text.size(), before + more.size());
    EXPECT_TRUE(std::string_view(text.c_str()).ends_with(more));
}
void moveAway(SecureString& text) {
    const SecureString taken(std::move(text));
    EXPECT_EQ(taken.size(), 15u);
}

TEST(SecureString, LeavesNoCharacterBehindWhateverItsLength) {
    const Case cases[] = {
        {"a six-digit PIN", "123456", keep},
        {"a 40-character secret", "0123456789abcdefghijklmnopqrstuvwxyzABCD", keep},
        {"15 characters grown past 60", "fifteen-chars!!", grow},
        {"15 characters moved from", "fifteen-chars!!", moveAway},
    };
    for (const Case& c : cases) {
        alignas(SecureString) unsigned char storage[sizeof(SecureString)] = {};
        gWatched = c.secret;
        gUnwipedBlocks = 0;
        auto* text = new (storage) SecureString(c.secret.data(), c.secret.size());
        c.use(*text);
        text->~SecureString();
        observe(storage);
        gWatched = {};
        EXPECT_FALSE(holdsARunOf(storage, sizeof storage, c.secret)) << c.name << ": in the object";
        EXPECT_EQ(gUnwipedBlocks, 0) << c.name << ": in a block freed";
    }
}

}  // namespace
}  // namespace orva::softkey
