#pragma once

// Scroll bars for a window whose controls need more room than its client
// area. The controls scroll together; the bars along the window's edges are
// pinned: put back in place after every scroll and kept above everything
// that scrolls, so no control ever covers them.

#include <windows.h>

#include <functional>
#include <vector>

namespace quellan {

class ControlScroller {
public:
    // align puts the pinned bars along their edges of the client area.
    ControlScroller(HWND window, std::function<void()> align);

    // The room the scrolled controls need, and the bars that keep to the
    // edges. Raises the bars above every other control.
    void setContent(SIZE extent, const std::vector<HWND>& pinned);

    // The client area changed: the scroll ranges follow and the bars align.
    void onSize();
    // A scroll bar request (SB_LINEUP, SB_THUMBTRACK, ...) on SB_HORZ or SB_VERT.
    void onScroll(int bar, int request);
    void onWheel(int delta);

private:
    void updateRange();
    void scrollTo(int x, int y);

    HWND window_;
    std::function<void()> align_;
    SIZE extent_{};  // 0 until setContent: no scroll bars
    POINT scroll_{}; // how far the controls are scrolled
    bool updatingRange_ = false;
};

} // namespace quellan
