#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "orva/file_replacement.h"
#include "orva/testing/support.h"

namespace orva {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class FileReplacementTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    fs::path file_ = dir_.path() / "file";
    std::string temporary_ = file_.string() + ".tmp." + std::to_string(::getpid());
};

TEST_F(FileReplacementTest, ModeIsTheUmaskedOneOrExactlyTheBitsAsked) {
    const mode_t mask = ::umask(022);
    struct Case {
        NewFileMode mode;
        mode_t expected;
    };
    const Case cases[] = {
        {{0666, false}, 0644},
        {{0600, false}, 0600},
        {{0666, true}, 0666},
        {{0604, true}, 0604},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(replaceFile(file_.string(), "text", c.mode));
        EXPECT_EQ(modeOf(file_), c.expected) << std::oct << c.mode.bits;
    }
    ::umask(mask);
    EXPECT_EQ(testing::readText(file_), "text");
}

TEST_F(FileReplacementTest, AFailedStepLeavesTheOldFileAndNoTemporaryFile) {
    ASSERT_TRUE(replaceFile(file_.string(), "old", NewFileMode{}));
    // A folder where the temporary file must go fails the open.
    ASSERT_TRUE(fs::create_directory(temporary_));
    const ReplacementResult blocked = replaceFile(file_.string(), "new", NewFileMode{});
    EXPECT_EQ(blocked.error, EISDIR);
    EXPECT_STREQ(blocked.step, "open");
    fs::remove(temporary_);

    // A folder as the target fails the rename, after the write.
    const fs::path folder = dir_.path() / "folder";
    ASSERT_TRUE(fs::create_directories(folder / "inside"));
    const ReplacementResult renamed = replaceFile(folder.string(), "new", NewFileMode{});
    EXPECT_NE(renamed.error, 0);
    EXPECT_STREQ(renamed.step, "rename");
    EXPECT_FALSE(fs::exists(folder.string() + ".tmp." + std::to_string(::getpid())));
    EXPECT_EQ(testing::readText(file_), "old");
}

TEST_F(FileReplacementTest, TheKeptDescriptorIsTheNewFile) {
    ASSERT_TRUE(replaceFile(file_.string(), "old", NewFileMode{}));
    FileDescriptor written;
    ASSERT_TRUE(replaceFile(file_.string(), "new", NewFileMode{}, &written));
    ASSERT_TRUE(written);
    struct stat kept {};
    struct stat named {};
    ASSERT_EQ(::fstat(written.get(), &kept), 0);
    ASSERT_EQ(::stat(file_.c_str(), &named), 0);
    EXPECT_EQ(kept.st_ino, named.st_ino);
    EXPECT_EQ(testing::readText(file_), "new");
    EXPECT_FALSE(fs::exists(temporary_));
}

}  // namespace
}  // namespace orva
