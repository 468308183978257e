#include "app/window_look.h"

WinPoint centre_on_work_area(const WinRect& window, const WinRect& work) {
    std::int32_t x = work.left + ((work.right - work.left) - (window.right - window.left)) / 2;
    std::int32_t y = work.top + ((work.bottom - work.top) - (window.bottom - window.top)) / 2;
    return {x, y};
}
