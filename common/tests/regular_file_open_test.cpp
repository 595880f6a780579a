#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "orva/regular_file_open.h"
#include "orva/testing/support.h"

namespace orva {
namespace {

namespace fs = std::filesystem;

// Every kind of path, opened in a guarded child so that an open which waits
// fails the test instead of hanging it: 0 when each answer was the expected
// one, else the number of the first that was not.
TEST(RegularFileOpen, OpensOnlyRegularFilesAndNeverWaits) {
    const testing::TempDir dir;
    testing::writeFile(dir.path() / "file", "text");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "folder");
    struct Case {
        const char* name;
        int flags;
        int error;  // 0: opened
    } const cases[] = {
        {"file", O_RDONLY, 0},
        {"file", O_RDWR | O_CREAT, 0},
        {"new", O_WRONLY | O_APPEND | O_CREAT, 0},
        {"fifo", O_RDONLY, kNotRegularFile},
        {"fifo", O_RDWR | O_CREAT, kNotRegularFile},
        {"fifo", O_WRONLY | O_APPEND | O_CREAT, kNotRegularFile},
        {"folder", O_RDONLY, kNotRegularFile},
        {"missing", O_RDONLY, ENOENT},
    };
    const int wrong = testing::exitOfGuardedChild([&] {
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            struct stat st {};
            const fs::path path = dir.path() / cases[i].name;
            errno = 0;
            const FileDescriptor fd = openRegularFile(path.c_str(), cases[i].flags, 0600, &st);
            const bool right =
                cases[i].error == 0 ? fd && S_ISREG(st.st_mode) : !fd && errno == cases[i].error;
            if (!right) {
                return static_cast<int>(i) + 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(testing::readText(dir.path() / "file"), "text");
}

}  // namespace
}  // namespace orva
