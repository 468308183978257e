#include <gtest/gtest.h>

#include "app/window_look.h"

namespace {

WinRect rect_at(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    return {left, top, left + width, top + height};
}

}  // namespace

TEST(CentreOnWorkArea, CentresInsideTheWorkAreaOfAnyMonitor) {
    // The window's own position does not matter, only its size.
    WinPoint p = centre_on_work_area(rect_at(300, 200, 1180, 720), rect_at(0, 0, 1920, 1040));
    EXPECT_EQ(p.x, 370);
    EXPECT_EQ(p.y, 160);

    // A monitor left of and above the primary one, with a task bar on top.
    p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(-2560, -1400, 2560, 1400 - 40));
    EXPECT_EQ(p.x, -2560 + 690);
    EXPECT_EQ(p.y, -1400 + 320);

    // Exactly the size of the work area: its corner.
    p = centre_on_work_area(rect_at(5, 5, 1180, 720), rect_at(10, 20, 1180, 720));
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 20);
}

TEST(CentreOnWorkArea, SmallerWorkAreaGivesNegativeOffsets) {
    WinPoint p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(0, 0, 1024, 600));
    EXPECT_EQ(p.x, -78);
    EXPECT_EQ(p.y, -60);

    p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(100, 50, 800, 480));
    EXPECT_EQ(p.x, 100 - 190);
    EXPECT_EQ(p.y, 50 - 120);
}

TEST(CentreOnWorkArea, OddDifferencesTruncateTowardZero) {
    // +101 / 2 = 50 and +15 / 2 = 7.
    WinPoint p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(0, 0, 1281, 735));
    EXPECT_EQ(p.x, 50);
    EXPECT_EQ(p.y, 7);

    // -1 / 2 = 0 and -19 / 2 = -9: toward zero, not toward minus infinity.
    p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(0, 0, 1179, 701));
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, -9);

    p = centre_on_work_area(rect_at(0, 0, 1180, 720), rect_at(-7, -3, 1177, 717));
    EXPECT_EQ(p.x, -7 - 1);
    EXPECT_EQ(p.y, -3 - 1);
}
