#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "win32/errors.h"
#include "win32/system.h"

namespace {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            hadOld_ = true;
        }
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { hadOld_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

  private:
    std::string name_, old_;
    bool hadOld_ = false;
};

std::string tempPath() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    EXPECT_EQ(n, std::strlen(buffer));
    return buffer;
}

TEST(TempPath, FollowsTmpdirAndEndsWithSlash) {
    {
        ScopedEnv env("TMPDIR", "/var/tmp/work");
        EXPECT_EQ(tempPath(), "/var/tmp/work/");
    }
    {
        ScopedEnv env("TMPDIR", "/var/tmp/");
        EXPECT_EQ(tempPath(), "/var/tmp/");
    }
    {
        ScopedEnv env("TMPDIR", nullptr);
        EXPECT_EQ(tempPath(), "/tmp/");
    }
    {
        ScopedEnv env("TMPDIR", "");
        EXPECT_EQ(tempPath(), "/tmp/");
    }
}

TEST(TempPath, ShortBufferGetsSizeWithNulAndStaysUntouched) {
    ScopedEnv env("TMPDIR", "/abc");
    char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 6u);  // "/abc/" + NUL
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetTempPathA(0, nullptr), 6u);
    char exact[6];
    EXPECT_EQ(GetTempPathA(sizeof exact, exact), 5u);
    EXPECT_STREQ(exact, "/abc/");
}

TEST(SystemDirectory, FollowsEnvironmentWithoutTrailingSlash) {
    struct Case {
        const char* env;
        const char* expected;
    };
    for (const Case& c :
         {Case{"/opt/sys/", "/opt/sys"}, Case{"/opt/sys", "/opt/sys"},
          Case{nullptr, "/usr/lib/orva/system"}, Case{"", "/usr/lib/orva/system"}}) {
        ScopedEnv env("ORVA_SYSTEM_DIR", c.env);
        char buffer[64];
        EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), std::strlen(c.expected));
        EXPECT_STREQ(buffer, c.expected);
    }
    ScopedEnv env("ORVA_SYSTEM_DIR", "/abc");
    char shortBuffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetSystemDirectoryA(shortBuffer, sizeof shortBuffer), 5u);
    EXPECT_EQ(shortBuffer[0], 'x');
}

TEST(Uuid, RandomVersionFourInLowerCaseText) {
    std::set<std::string> seen;
    const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (int i = 0; i < 200; ++i) {
        UUID uuid{};
        ASSERT_EQ(UuidCreate(&uuid), RPC_S_OK);
        RPC_CSTR text = nullptr;
        ASSERT_EQ(UuidToStringA(&uuid, &text), RPC_S_OK);
        ASSERT_NE(text, nullptr);
        const std::string s(reinterpret_cast<char*>(text));
        EXPECT_EQ(s.size(), 36u);
        EXPECT_TRUE(std::regex_match(s, shape)) << s;
        seen.insert(s);
        ASSERT_EQ(RpcStringFreeA(&text), RPC_S_OK);
        EXPECT_EQ(text, nullptr);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Uuid, TextFollowsFieldOrder) {
    const UUID uuid{0x01234567, 0x89ab, 0x4def, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
    RPC_CSTR text = nullptr;
    ASSERT_EQ(UuidToStringA(&uuid, &text), RPC_S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "01234567-89ab-4def-8011-223344556677");
    RpcStringFreeA(&text);
    EXPECT_EQ(UuidCreate(nullptr), RPC_S_INVALID_ARG);
    EXPECT_EQ(UuidToStringA(&uuid, nullptr), RPC_S_INVALID_ARG);
}

TEST(ProcessHeap, AllocatesZeroedAndRejectsForeignHeaps) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
    void* empty = HeapAlloc(heap, 0, 0);
    EXPECT_NE(empty, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, empty));

    int other = 0;
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(&other, 0, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(HeapFree(&other, 0, nullptr));
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD seenInThread = 1;
    std::thread([&] { seenInThread = GetLastError(); }).join();
    EXPECT_EQ(seenInThread, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
