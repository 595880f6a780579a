#pragma once

// What a window's last painting drew, for hosts and tests to look at. Text
// is placed on a fixed character cell, so a centred text has a known origin.

#include <string>
#include <vector>

#include "win32/window.h"

namespace orva {

inline constexpr LONG kCellWidth = 8;
inline constexpr LONG kCellHeight = 16;

struct PaintRecord {
    enum class Kind { frame, text };
    Kind kind;
    RECT rect;         // the frame, or the rectangle the text was drawn in
    HBRUSH brush;      // frames
    std::string text;  // texts: the bytes drawn
    UINT format;       // texts
    LONG originX;      // texts: where the first cell starts
    LONG originY;
};

// The records of the window's last BeginPaint..EndPaint, and whether that
// painting ended; empty for an unknown window.
struct DisplayList {
    std::vector<PaintRecord> records;
    bool complete = false;
};
ORVA_EXPORT DisplayList windowDisplayList(HWND window);

}  // namespace orva
