#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "orva/display_list.h"
#include "win32/errors.h"
#include "win32/window.h"

namespace {

using orva::DisplayList;
using orva::kCellHeight;
using orva::PaintRecord;
using orva::windowDisplayList;

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

LRESULT answersSeven(HWND, UINT, WPARAM, LPARAM) {
    return 7;
}

TEST(Window, SubclassingSwapsTheProcedureAndKeepsUserData) {
    HWND window = makeWindow();
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);  // DefWindowProcA
    const LONG_PTR original =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&answersSeven));
    EXPECT_EQ(original, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 7);
    EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 42), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 42);
    // A null procedure and an unknown index are refused, the window unchanged.
    EXPECT_EQ(SetWindowLongPtrA(window, GWLP_WNDPROC, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetWindowLongPtrA(window, -16, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 7);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
}

TEST(Window, PaintingIsRecordedOnAFixedCell) {
    HWND window = makeWindow();  // 100 x 100
    PAINTSTRUCT paint{};
    HDC context = BeginPaint(window, &paint);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(paint.rcPaint.right, 100);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(GetStockObject(20), nullptr);
    EXPECT_EQ(FrameRect(context, &client, nullptr), 0);
    EXPECT_EQ(FrameRect(context, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 1);
    struct Row {
        const char* text;
        int count;
        UINT format;
        LONG x, y;
    };
    const Row rows[] = {
        {"abcd", -1, DT_CENTER | DT_VCENTER | DT_SINGLELINE, 34, 42},
        {"abcdef", 2, DT_CENTER, 42, 0},
        // Vertical centring needs a single line.
        {"ab", 2, DT_VCENTER, 0, 0},
        // Wider than the rectangle: it starts left of it.
        {"0123456789012345", -1, DT_CENTER, -14, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DrawTextA(context, row.text, row.count, &client, row.format), kCellHeight);
    }
    EXPECT_EQ(DrawTextA(context, "x", -2, &client, 0), 0);
    EXPECT_FALSE(windowDisplayList(window).complete);
    EXPECT_TRUE(EndPaint(window, &paint));
    // After EndPaint nothing more is drawn.
    EXPECT_EQ(DrawTextA(context, "late", -1, &client, 0), 0);

    const DisplayList list = windowDisplayList(window);
    ASSERT_TRUE(list.complete);
    ASSERT_EQ(list.records.size(), 1 + std::size(rows));
    EXPECT_EQ(list.records[0].brush, GetStockObject(BLACK_BRUSH));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const PaintRecord& text = list.records[i + 1];
        EXPECT_EQ(text.text,
                  std::string(rows[i].text, rows[i].count < 0 ? std::strlen(rows[i].text)
                                                              : std::size_t(rows[i].count)));
        EXPECT_EQ(text.originX, rows[i].x) << rows[i].text;
        EXPECT_EQ(text.originY, rows[i].y) << rows[i].text;
    }
    // The next painting starts a new list.
    BeginPaint(window, &paint);
    EXPECT_TRUE(windowDisplayList(window).records.empty());
    EXPECT_TRUE(DestroyWindow(window));
}

}  // namespace
