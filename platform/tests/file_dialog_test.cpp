#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "win32/window.h"

namespace {

namespace fs = std::filesystem;

class FileDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orva-dialog-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        file_ = dir_ / "report.final.pdf";
        std::ofstream(file_) << "x";
    }
    void TearDown() override {
        unsetenv("ORVA_FILE_DIALOG");
        fs::remove_all(dir_);
    }

    void answer(const std::string& command) { setenv("ORVA_FILE_DIALOG", command.c_str(), 1); }

    OPENFILENAMEA request(char* buffer, DWORD size) {
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrFilter = "(*.*)\0*.*\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = buffer;
        ofn.nMaxFile = size;
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return ofn;
    }

    fs::path dir_, file_;
};

TEST_F(FileDialog, AnsweredPathFillsTheBlock) {
    answer("echo '" + file_.string() + "'");
    char buffer[MAX_PATH] = {};
    char title[64] = {};
    OPENFILENAMEA ofn = request(buffer, sizeof buffer);
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sizeof title;
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), file_.string());
    EXPECT_STREQ(buffer + ofn.nFileOffset, "report.final.pdf");
    EXPECT_STREQ(buffer + ofn.nFileExtension, "pdf");
    EXPECT_STREQ(title, "report.final.pdf");
}

TEST_F(FileDialog, EmptyAnswerFailingCommandAndMissingFileAreCancels) {
    char buffer[MAX_PATH] = {};
    OPENFILENAMEA ofn = request(buffer, sizeof buffer);
    answer("true");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    answer("echo '" + file_.string() + "'; exit 3");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    answer("echo " + (dir_ / "absent.txt").string());
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    answer("/nonexistent/dialog-program");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(FileDialog, NoCommandAndNoDisplayCancels) {
    unsetenv("ORVA_FILE_DIALOG");
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    unsetenv("DISPLAY");
    char buffer[MAX_PATH] = {};
    OPENFILENAMEA ofn = request(buffer, sizeof buffer);
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    if (display != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    }
}

TEST_F(FileDialog, ShortBufferReportsTheSizeNeeded) {
    answer("echo '" + file_.string() + "'");
    char buffer[8] = {};
    OPENFILENAMEA ofn = request(buffer, sizeof buffer);
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    WORD needed = 0;
    std::memcpy(&needed, buffer, sizeof needed);
    EXPECT_EQ(needed, file_.string().size() + 1);

    OPENFILENAMEA wrongSize = request(buffer, sizeof buffer);
    wrongSize.lStructSize = 12;
    EXPECT_FALSE(GetOpenFileNameA(&wrongSize));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

TEST_F(FileDialog, OwnerKeepsItsEnabledStateAfterTheDialog) {
    HWND owner = CreateWindowExA(0, "Owner", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    answer("echo '" + file_.string() + "'");
    char buffer[MAX_PATH] = {};
    OPENFILENAMEA ofn = request(buffer, sizeof buffer);
    ofn.hwndOwner = owner;
    EXPECT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_TRUE(IsWindowEnabled(owner));
    answer("true");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_TRUE(IsWindowEnabled(owner));
    EnableWindow(owner, FALSE);
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_FALSE(IsWindowEnabled(owner));  // a disabled owner is not enabled by the dialog
    DestroyWindow(owner);
}

}  // namespace
