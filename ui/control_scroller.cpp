#include "control_scroller.h"

#include <utility>

namespace quellan {
namespace {

constexpr int scrollLine = 16;

} // namespace

ControlScroller::ControlScroller(HWND window, std::function<void()> align)
    : window_(window), align_(std::move(align))
{
}

void ControlScroller::setContent(SIZE extent, const std::vector<HWND>& pinned)
{
    extent_ = extent;
    for (HWND bar : pinned) {
        SetWindowPos(bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    onSize();
}

void ControlScroller::onSize()
{
    updateRange();
    align_();
}

void ControlScroller::updateRange()
{
    if (updatingRange_) {
        return; // showing or hiding a bar resizes the client area again
    }
    updatingRange_ = true;
    // Showing one bar narrows the client area and may make the other needed.
    for (int pass = 0; pass < 3; ++pass) {
        RECT before;
        GetClientRect(window_, &before);
        for (const int bar : {SB_HORZ, SB_VERT}) {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE;
            info.nMax = (bar == SB_HORZ ? extent_.cx : extent_.cy) - 1;
            info.nPage = static_cast<UINT>(bar == SB_HORZ ? before.right : before.bottom);
            SetScrollInfo(window_, bar, &info, TRUE);
        }
        RECT after;
        GetClientRect(window_, &after);
        if (EqualRect(&before, &after)) {
            break;
        }
    }
    updatingRange_ = false;
    scrollTo(GetScrollPos(window_, SB_HORZ), GetScrollPos(window_, SB_VERT));
}

void ControlScroller::onScroll(int bar, int request)
{
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window_, bar, &info);
    int position = info.nPos;
    const int page = static_cast<int>(info.nPage);
    switch (request) {
    case SB_LINEUP:
        position -= scrollLine;
        break;
    case SB_LINEDOWN:
        position += scrollLine;
        break;
    case SB_PAGEUP:
        position -= page;
        break;
    case SB_PAGEDOWN:
        position += page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        position = info.nTrackPos;
        break;
    case SB_TOP:
        position = info.nMin;
        break;
    case SB_BOTTOM:
        position = info.nMax;
        break;
    default:
        return;
    }
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(window_, bar, &info, TRUE); // clamps to the range
    scrollTo(GetScrollPos(window_, SB_HORZ), GetScrollPos(window_, SB_VERT));
}

void ControlScroller::onWheel(int delta)
{
    onScroll(SB_VERT, delta > 0 ? SB_LINEUP : SB_LINEDOWN);
}

void ControlScroller::scrollTo(int x, int y)
{
    if (x == scroll_.x && y == scroll_.y) {
        return;
    }
    ScrollWindowEx(window_, scroll_.x - x, scroll_.y - y, nullptr, nullptr, nullptr, nullptr,
                   SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
    scroll_ = {x, y};
    align_(); // the bars keep to their edges
}

} // namespace quellan
