// A file attached to a signature is one file for the whole call: what its path
// leads to later is never read, and a checked file that is written to shows it.

#include "attached_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "formats_test_support.h"
#include "orva_result_codes.h"
#include "sign_packet_writer.h"

namespace orva::api {
namespace {

using test::TempDir;
using test::textOf;

// A file last written long ago, so that any write now moves its time.
std::string oldFile(const TempDir& dir, const std::string& name, const std::string& content) {
    const std::string path = dir.file(name);
    test::writeFile(path, content);
    std::filesystem::last_write_time(path, std::filesystem::file_time_type{});
    return path;
}

TEST(AttachedFile, IsOpenedOnceWhateverItsPathLeadsToLater) {
    const TempDir dir;
    const std::string path = oldFile(dir, "a.txt", "one");
    test::writeFile(dir.file("other"), std::string(40, 'x'));
    AttachedFile attached(path);
    std::size_t estimate = 0;
    ASSERT_EQ(estimateSignPacketSize(0, 0, attached, estimate), kSuccess);
    ASSERT_EQ(std::rename(dir.file("other").c_str(), path.c_str()), 0);
    Bytes field;
    ASSERT_EQ(buildAttachedFileField(attached, field), kSuccess);
    EXPECT_EQ(textOf(field).substr(32 + path.size()), "b25l");  // "one"

    // One that did not open is not tried again.
    AttachedFile late(dir.file("late"));
    EXPECT_EQ(estimateSignPacketSize(0, 0, late, estimate), kEstimateCannotOpen);
    test::writeFile(dir.file("late"), "now");
    EXPECT_EQ(buildAttachedFileField(late, field), kBase64EncodeError);
}

TEST(AttachedFile, ACheckedFileChangesWithAWriteNotWithANewName) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> after;
        bool unchanged;
    } cases[] = {
        {"renamed", [](const std::string& p) { std::rename(p.c_str(), (p + "2").c_str()); }, true},
        {"linked", [](const std::string& p) { ::link(p.c_str(), (p + "3").c_str()); }, true},
        {"same bytes written again", [](const std::string& p) { test::writeFile(p, "one"); },
         false},
        {"appended to", [](const std::string& p) { test::writeFile(p, "one!"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const std::string path = oldFile(dir, "a.txt", "one");
        std::optional<RegularFile> file = RegularFile::open(path);
        ASSERT_TRUE(file);
        AttachedFile checked(path, std::move(*file));
        c.after(path);
        EXPECT_EQ(checked.unchanged(), c.unchanged);
    }
    // A file opened by path has nothing to compare with.
    const TempDir dir;
    AttachedFile named(oldFile(dir, "a.txt", "one"));
    ASSERT_NE(named.file(), nullptr);
    test::writeFile(dir.file("a.txt"), "changed");
    EXPECT_TRUE(named.unchanged());
}

}  // namespace
}  // namespace orva::api
