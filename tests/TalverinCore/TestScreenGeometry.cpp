#include "TalverinCore/ScreenGeometry.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

// The screen convention: points, origin at the bottom-left of the primary monitor, y up. The
// cases cover a primary monitor at the root's origin, one to the right of another monitor, and
// one below another monitor.
TEST(ScreenGeometry, X11RootRectanglesBecomeBottomLeftScreenRectangles) {
    struct Row {
        const char* what;
        X11Rect primary;
        X11Rect root;
        Rect screen;
    };
    const Row rows[] = {
        {"a window on the only monitor",
         {0, 0, 1512, 982},
         {100, 50, 200, 30},
         {{100, 902}, {200, 30}}},
        {"a window at the top-left corner",
         {0, 0, 1512, 982},
         {0, 0, 300, 100},
         {{0, 882}, {300, 100}}},
        {"the primary monitor itself", {0, 0, 1512, 982}, {0, 0, 1512, 982}, {{0, 0}, {1512, 982}}},
        {"primary right of a taller monitor",
         {1920, 0, 1512, 982},
         {1930, 20, 100, 40},
         {{10, 922}, {100, 40}}},
        {"a window on the monitor left of the primary",
         {1920, 0, 1512, 982},
         {0, 1000, 100, 50},
         {{-1920, -68}, {100, 50}}},
        {"primary below another monitor",
         {0, 1080, 1512, 982},
         {0, 1080, 200, 100},
         {{0, 882}, {200, 100}}},
        {"a window on the monitor above the primary",
         {0, 1080, 1512, 982},
         {0, 0, 200, 100},
         {{0, 1962}, {200, 100}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(fromX11Root(row.root, row.primary), row.screen);
        EXPECT_EQ(toX11Root(row.screen, row.primary), row.root);
    }
}

TEST(ScreenGeometry, TheTopOfARectangleIsItsHighYEdge) {
    X11Rect primary{0, 0, 1512, 982};
    Rect atTop = fromX11Root(X11Rect{10, 0, 100, 40}, primary);
    EXPECT_EQ(atTop.maxY(), 982);
    EXPECT_EQ(atTop.minY(), 942);
    EXPECT_EQ(fromX11Root(X11Point{10, 0}, primary), (Point{10, 982}));
    EXPECT_EQ(fromX11Root(X11Point{10, 982}, primary), (Point{10, 0}));
    EXPECT_EQ(fromX11Root(X11Point{1930, 20}, X11Rect{1920, 0, 1512, 982}), (Point{10, 962}));
}

} // namespace
} // namespace talverin
