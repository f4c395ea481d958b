// Monitors placed on the desktop of physical pixels, from the logical places and sizes a scaling
// compositor reports and the physical frames it sends; and a grab across them.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "screen/monitor_frames.h"
#include "screen/monitor_layout.h"

namespace {

using screen::MonitorSize;

std::vector<std::pair<int, int>> layout(const std::vector<MonitorSize>& monitors) {
    std::vector<std::pair<int, int>> at;
    for (const screen::Position& p : screen::physical_layout(monitors)) at.emplace_back(p.x, p.y);
    return at;
}

using At = std::vector<std::pair<int, int>>;

TEST(MonitorLayout, OneMonitorLiesAtTheOriginAtAnyScale) {
    EXPECT_EQ(layout({{0, 0, 1280, 720, 1280, 720}}), (At{{0, 0}}));
    EXPECT_EQ(layout({{0, 0, 1280, 720, 2560, 1440}}), (At{{0, 0}}));
    EXPECT_EQ(layout({{0, 0, 1280, 720, 1920, 1080}}), (At{{0, 0}}));
    EXPECT_EQ(layout({{0, 0, 0, 0, 1920, 1080}}), (At{{0, 0}})) << "no size reported: scale 1";
}

// As GNOME reports two 2560x1440 monitors at scale 2.
TEST(MonitorLayout, MonitorsOfOneScaleLieAtTheirLogicalPlacesTimesTheScale) {
    EXPECT_EQ(layout({{0, 0, 1280, 720, 2560, 1440}, {1280, 0, 1280, 720, 2560, 1440}}), (At{{0, 0}, {2560, 0}}));
    EXPECT_EQ(layout({{1280, 0, 1280, 720, 2560, 1440}, {0, 0, 1280, 720, 2560, 1440}}), (At{{2560, 0}, {0, 0}}))
        << "in any order";
    EXPECT_EQ(layout({{0, 0, 1280, 720, 1920, 1080}, {0, 720, 1280, 720, 1920, 1080}}), (At{{0, 0}, {0, 1080}}));
    EXPECT_EQ(layout({{0, 0, 1280, 720, 2560, 1440}, {1380, 0, 1280, 720, 2560, 1440}}), (At{{0, 0}, {2760, 0}}))
        << "a gap of 100 logical pixels";
    EXPECT_EQ(layout({{0, 0, 1280, 720, 1280, 720}, {1280, 0, 1280, 720, 1280, 720}}), (At{{0, 0}, {1280, 0}}));
}

TEST(MonitorLayout, MonitorsOfMixedScalesLieEdgeToEdge) {
    // Scale 1, 2 and 1.5 in a row, top-aligned.
    EXPECT_EQ(layout({{0, 0, 1920, 1080, 1920, 1080}, {1920, 0, 1280, 720, 2560, 1440}, {3200, 0, 1280, 720, 1920, 1080}}),
              (At{{0, 0}, {1920, 0}, {4480, 0}}));
    // Scale 2 right of scale 1 and 540 logical pixels lower: 540 of the left one's pixels.
    EXPECT_EQ(layout({{0, 0, 1920, 1080, 1920, 1080}, {1920, 540, 1280, 720, 2560, 1440}}), (At{{0, 0}, {1920, 540}}));
    // Scale 2 above scale 1.
    EXPECT_EQ(layout({{0, 0, 1280, 720, 2560, 1440}, {0, 720, 1920, 1080, 1920, 1080}}), (At{{0, 0}, {0, 1440}}));
    // Scale 1 left of the origin, scale 2 at it.
    EXPECT_EQ(layout({{-1920, 0, 1920, 1080, 1920, 1080}, {0, 0, 1280, 720, 2560, 1440}}), (At{{-1920, 0}, {0, 0}}));
    // Two of scale 1 stacked left of a tall one of scale 2, which starts where both end.
    EXPECT_EQ(layout({{0, 0, 1280, 720, 1280, 720}, {0, 720, 1280, 720, 1280, 720}, {1280, 0, 1280, 1440, 2560, 2880}}),
              (At{{0, 0}, {0, 720}, {1280, 0}}));
    // Scale 2, 1, 1 in a row: the third follows the second, whatever the first's scale.
    EXPECT_EQ(layout({{0, 0, 1280, 720, 2560, 1440}, {1280, 0, 1920, 1080, 1920, 1080}, {3200, 0, 1920, 1080, 1920, 1080}}),
              (At{{0, 0}, {2560, 0}, {4480, 0}}));
}

// A grab across two monitors at scale 2, reported as GNOME reports them: each frame whole, side
// by side, nothing black between or after them.
TEST(MonitorLayout, AGrabAcrossTwoMonitorsAtScale2ShowsBothWhole) {
    const int w = 2560, h = 1440;
    std::vector<std::shared_ptr<const screen::Frame>> frames;
    for (uint32_t base : {0x100000u, 0x200000u}) {
        auto f = std::make_shared<screen::Frame>();
        f->width = w;
        f->height = h;
        for (int i = 0; i < w * h; ++i) f->pixels.push_back(base + uint32_t(i % 0xFFFFF));
        frames.push_back(f);
    }
    const std::vector<screen::Position> at =
        screen::physical_layout({{0, 0, 1280, 720, w, h}, {1280, 0, 1280, 720, w, h}});
    auto shot = screen::shoot_frames({{at[0].x, at[0].y, frames[0]}, {at[1].x, at[1].y, frames[1]}}, 0, 0, 2 * w, h);
    ASSERT_EQ(shot->columns, 2 * w);
    ASSERT_EQ(shot->rows, h);
    std::vector<uint32_t> row(2 * w);
    for (int r : {0, 719, 1439}) {
        shot->convert_row(r, row.data());
        for (int m = 0; m < 2; ++m)
            ASSERT_TRUE(std::equal(row.begin() + m * w, row.begin() + (m + 1) * w, frames[m]->pixels.begin() + r * w))
                << "monitor " << m << ", row " << r;
    }
}

}  // namespace
