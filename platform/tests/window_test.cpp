#include <gtest/gtest.h>

#include "win32/errors.h"
#include "win32/window.h"

namespace {

HWND makeWindow(HWND parent = nullptr) {
    return CreateWindowExA(0, "OrvaTest", "test", 0, 0, 0, 100, 100, parent, nullptr, nullptr,
                           nullptr);
}

TEST(Window, EnableReportsThePreviousState) {
    HWND window = makeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_FALSE(EnableWindow(window, FALSE));  // was enabled
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_TRUE(EnableWindow(window, FALSE));  // was disabled
    EXPECT_TRUE(EnableWindow(window, TRUE));
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_TRUE(DestroyWindow(window));
}

TEST(Window, ActiveAndForegroundAreMarkedAndForgottenWithTheWindow) {
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    HWND a = makeWindow();
    HWND b = makeWindow();
    EXPECT_EQ(SetActiveWindow(a), nullptr);
    EXPECT_EQ(SetActiveWindow(b), a);
    EXPECT_EQ(GetActiveWindow(), b);
    EXPECT_TRUE(SetForegroundWindow(a));
    EXPECT_EQ(GetForegroundWindow(), a);
    EXPECT_TRUE(DestroyWindow(b));
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST(Window, DestroyTakesChildrenAndGrandchildren) {
    HWND parent = makeWindow();
    HWND child = makeWindow(parent);
    HWND grandchild = makeWindow(child);
    ASSERT_NE(grandchild, nullptr);
    SetActiveWindow(grandchild);
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(grandchild));
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST(Window, StaleHandlesAreRejected) {
    HWND window = makeWindow();
    ASSERT_TRUE(DestroyWindow(window));
    SetLastError(0);
    EXPECT_FALSE(EnableWindow(window, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_FALSE(SetForegroundWindow(window));
    EXPECT_EQ(SetActiveWindow(window), nullptr);
    EXPECT_EQ(makeWindow(window), nullptr);  // a dead parent
}

}  // namespace
