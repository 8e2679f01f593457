// labels: x11
#include "TalverinPill/linux/PillWindowDriverGtk.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillOverlayViews.h"
#include "TalverinPill/PillPanel.h"
#include "TalverinPill/PillRects.h"
#include "TalverinPill/PillSnapshot.h"
#include "TalverinInsert/linux/TextFixture.h"
#include "support/LinuxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace talverin {
namespace {

// The display every test of this program draws on: an Xvfb of its own, unless the demo runs
// on the person's own display.
test::PrivateXServer* server = nullptr;

PillMeasure fontMeasure() {
    return [](std::string_view text, double size, double weight, bool tabular) {
        return PillFonts::width(text, size, weight, tabular);
    };
}

Display* xdisplay() {
    return GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
}

// The primary monitor in root coordinates, the origin of screen coordinates.
X11Rect primary() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle g;
    gdk_monitor_get_geometry(monitor, &g);
    return {double(g.x), double(g.y), double(g.width), double(g.height)};
}

// The root-window point of a screen point: the one conversion the driver uses too.
X11Rect rootOf(Point p) {
    return toX11Root(Rect{p, {0, 0}}, primary());
}

class PillWindowDriverGtkTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The demo, asked for by name, shows on the person's own display.
        const bool demo =
            GTEST_FLAG_GET(filter).find("Demo") != std::string::npos && std::getenv("DISPLAY");
        if (!gdk_display_get_default()) {
            if (!demo) {
                server = new test::PrivateXServer;
                if (!server->display().empty())
                    setenv("DISPLAY", server->display().c_str(), 1);
            }
            gtk_init_check(nullptr, nullptr);
        }
        PillSnapshot::prepareFonts();
    }

    void SetUp() override {
        ASSERT_NE(gdk_display_get_default(), nullptr) << "no X server";
        auto made = PillWindowDriverGtk::create(model);
        ASSERT_TRUE(made.ok());
        driver = made.value();
        panel = std::make_unique<PillPanel>(model, driver, PillLang::en, fontMeasure());
        panel->onClick = [this] { ++clicks; };
        panel->onSpotChanged = [this](PillSpot spot) { spots.push_back(spot); };
    }
    void TearDown() override {
        if (panel)
            release();
        panel.reset();
        driver.reset();
        if (below)
            gtk_widget_destroy(below);
        loop.runFor(0.05);
    }

    // Waits until the window shows the model at rest: nothing ticks, nothing is queued.
    bool settle(double seconds = 30) {
        return loop.runUntil([&] { return !driver->isAnimating(); }, seconds);
    }
    void moveTo(Point screen) {
        const X11Rect r = rootOf(screen);
        XTestFakeMotionEvent(xdisplay(), -1, int(std::lround(r.x)), int(std::lround(r.y)), 0);
        XFlush(xdisplay());
    }
    void press() {
        XTestFakeButtonEvent(xdisplay(), 1, True, 0);
        XFlush(xdisplay());
    }
    void release() {
        XTestFakeButtonEvent(xdisplay(), 1, False, 0);
        XFlush(xdisplay());
    }
    Point pillCentre() const {
        const PillShapeState& shape = model->shape();
        const Size s = shape.look.size;
        return {shape.centre.x + (0.5 - shape.grab.x) * s.width,
                shape.centre.y + (0.5 - shape.grab.y) * s.height};
    }
    // The idle bar at rest, then the pointer on it until the hover form is up.
    void hoverOnBar() {
        panel->setShowsIdleBar(true);
        ASSERT_TRUE(settle());
        ASSERT_TRUE(driver->isVisible());
        moveTo(pillCentre());
        ASSERT_TRUE(loop.runUntil([&] { return panel->isHovering(); }, 30));
        ASSERT_TRUE(settle());
        ASSERT_FALSE(driver->ignoresMouse());
    }
    // A plain window of this process under the pill, counting the presses it gets.
    void windowBelow() {
        below = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_move(GTK_WINDOW(below), 0, 0);
        gtk_window_set_default_size(GTK_WINDOW(below), 640, 480);
        gtk_window_set_accept_focus(GTK_WINDOW(below), FALSE);
        gtk_widget_add_events(below, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(below, "button-press-event",
                         G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer count) {
                             ++*static_cast<int*>(count);
                             return TRUE;
                         }),
                         &belowPresses);
        gtk_widget_show(below);
        ASSERT_TRUE(loop.runUntil([&] { return gtk_widget_get_mapped(below); }, 30));
    }
    Window focus() const {
        Window window = 0;
        int revert = 0;
        XGetInputFocus(xdisplay(), &window, &revert);
        return window;
    }

    test::RealTimeLoop loop;
    std::shared_ptr<PillModel> model = std::make_shared<PillModel>();
    std::shared_ptr<PillWindowDriverGtk> driver;
    std::unique_ptr<PillPanel> panel;
    int clicks = 0;
    std::vector<PillSpot> spots;
    GtkWidget* below = nullptr;
    int belowPresses = 0;
};

TEST_F(PillWindowDriverGtkTest, TheWindowNeverTakesTheFocusFromAField) {
    test::TextFixture field(gdk_display_get_name(gdk_display_get_default()), "entry");
    ASSERT_TRUE(field.waitFor("ready"));
    ASSERT_TRUE(loop.runUntil([&] { return focus() > PointerRoot; }, 30));
    const Window focused = focus();

    // A click on the resting pill reaches the panel; the field keeps the keyboard.
    hoverOnBar();
    XWindowAttributes attributes{};
    XGetWindowAttributes(xdisplay(), driver->xWindow(), &attributes);
    EXPECT_TRUE(attributes.override_redirect);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(focus(), focused);
    press();
    release();
    ASSERT_TRUE(loop.runUntil([&] { return clicks == 1; }, 30));
    EXPECT_EQ(focus(), focused);
    const KeyCode a = XKeysymToKeycode(xdisplay(), XK_a);
    XTestFakeKeyEvent(xdisplay(), a, True, 0);
    XTestFakeKeyEvent(xdisplay(), a, False, 0);
    XFlush(xdisplay());
    EXPECT_TRUE(field.waitFor("entry: a"));

    // A state coming up takes nothing either.
    panel->show(PillState::inserted("Notes"), std::nullopt);
    ASSERT_TRUE(loop.runUntil(
        [&] { return panel->face() && driver->isVisible() && !driver->isAnimating(); }, 30));
    EXPECT_EQ(focus(), focused);
}

TEST_F(PillWindowDriverGtkTest, AClickBesideThePillPassesThrough) {
    windowBelow();
    panel->setShowsIdleBar(true);
    ASSERT_TRUE(settle());
    const Rect frame = driver->frame();
    // A corner of the window's area, well away from the bar in its middle.
    moveTo({frame.minX() + 3, frame.maxY() - 3});
    ASSERT_TRUE(loop.runUntil([&] { return driver->ignoresMouse(); }, 30));
    press();
    release();
    ASSERT_TRUE(loop.runUntil([&] { return belowPresses == 1; }, 30));
    EXPECT_EQ(clicks, 0);

    // On the bar the press is the panel's and the window below gets nothing.
    moveTo(pillCentre());
    ASSERT_TRUE(loop.runUntil([&] { return panel->isHovering(); }, 30));
    ASSERT_TRUE(settle());
    press();
    release();
    ASSERT_TRUE(loop.runUntil([&] { return clicks == 1; }, 30));
    EXPECT_EQ(belowPresses, 1);
}

TEST_F(PillWindowDriverGtkTest, HoverGrowsOnlyAfterTheDwell) {
    panel->setShowsIdleBar(true);
    ASSERT_TRUE(settle());
    const double start = test::monotonicNow();
    moveTo(pillCentre());
    ASSERT_TRUE(loop.runUntil([&] { return panel->isHovering(); }, 30));
    EXPECT_GE(test::monotonicNow() - start, 0.12);
    EXPECT_EQ(panel->stage(), PillStage::hover());
    ASSERT_TRUE(settle());
    // The window shows the hover form's size once it has settled.
    EXPECT_EQ(model->shape().look.size,
              PillGeometry::target(PillStage::hover(), panel->spot(), *panel->screen()).frame.size);
}

TEST_F(PillWindowDriverGtkTest, ADragMovesThePillAndSnapsToTheNearestSpot) {
    panel->setDragEnabled(true);
    hoverOnBar();
    ASSERT_EQ(panel->spot(), PillSpot::bottomCenter);
    const Point start = pillCentre();
    press();
    const PillScreen screen = *panel->screen();
    const Point goal{screen.visibleFrame.minX() + 40, screen.visibleFrame.maxY() - 40};
    // What the panel hears, to wait on.
    std::optional<Point> lastDragged;
    driver->onMouse = [&lastDragged, inner = driver->onMouse](const PillMouseEvent& e) {
        if (e.kind() == PillMouseEvent::Kind::dragged)
            lastDragged = e.point();
        return inner(e);
    };
    // The pointer travels in steps; each one waits for the panel to hear of it.
    for (int i = 1; i <= 8; ++i) {
        const Point p{start.x + (goal.x - start.x) * i / 8, start.y + (goal.y - start.y) * i / 8};
        moveTo(p);
        ASSERT_TRUE(loop.runUntil(
            [&] { return lastDragged && PillRects::distance(*lastDragged, p) <= 1; }, 30));
        EXPECT_TRUE(panel->isDragging());
    }
    release();
    ASSERT_TRUE(loop.runUntil(
        [&] { return !panel->isDragging() && !panel->isSnapping() && !driver->isAnimating(); },
        30));
    EXPECT_EQ(panel->spot(), PillSpot::topLeft);
    EXPECT_EQ(spots, (std::vector<PillSpot>{PillSpot::topLeft}));
    const Rect home = PillGeometry::homeBox(PillSpot::topLeft, screen);
    EXPECT_EQ(driver->frame(), home);
}

TEST_F(PillWindowDriverGtkTest, TheStopButtonStopsOnlyWhenReleasedOnIt) {
    int stops = 0;
    panel->onStop = [&] { ++stops; };
    std::vector<PillMouseEvent::Kind> heard;
    driver->onMouse = [&heard, inner = driver->onMouse](const PillMouseEvent& e) {
        heard.push_back(e.kind());
        return inner(e);
    };
    auto hears = [&](PillMouseEvent::Kind kind) {
        return loop.runUntil(
            [&] { return std::find(heard.begin(), heard.end(), kind) != heard.end(); }, 30);
    };
    windowBelow();
    panel->show(PillState::handsFree(3, ""), std::nullopt);
    // The content comes in a later step of the show.
    ASSERT_TRUE(loop.runUntil([&] { return driver->stopRect() && !driver->isAnimating(); }, 30));
    const auto stop = driver->stopRect();
    ASSERT_TRUE(stop);
    const Point middle = PillRects::centre(*stop);

    // In the square's corner, 20.5 points from the centre, the click is beside the round
    // button: it goes to the window below.
    moveTo({middle.x + 14.5, middle.y - 14.5});
    ASSERT_TRUE(loop.runUntil(
        [&] { return PillRects::distance(driver->pointerLocation(), middle) > 20; }, 30));
    press();
    release();
    ASSERT_TRUE(loop.runUntil([&] { return belowPresses == 1; }, 30));
    EXPECT_EQ(stops, 0);

    // Pressed on the button and let go beside it: nothing.
    moveTo(middle);
    ASSERT_TRUE(loop.runUntil([&] { return !driver->ignoresMouse(); }, 30));
    press();
    ASSERT_TRUE(hears(PillMouseEvent::Kind::down));
    moveTo({stop->minX() - 30, middle.y});
    ASSERT_TRUE(loop.runUntil(
        [&] { return PillRects::distance(driver->pointerLocation(), middle) > 20; }, 30));
    release();
    ASSERT_TRUE(hears(PillMouseEvent::Kind::up));
    EXPECT_EQ(stops, 0);

    // Pressed and let go on it: the stop.
    heard.clear();
    moveTo(middle);
    ASSERT_TRUE(loop.runUntil([&] { return !driver->ignoresMouse(); }, 30));
    press();
    ASSERT_TRUE(hears(PillMouseEvent::Kind::down));
    release();
    ASSERT_TRUE(hears(PillMouseEvent::Kind::up));
    EXPECT_EQ(stops, 1);
}

// The pixels of a window through the X server, as 0xRRGGBB.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<unsigned long> pixels;
    unsigned long at(int x, int y) const { return pixels[std::size_t(y * width + x)]; }
};

Shot capture(unsigned long window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(xdisplay(), window, &attributes);
    Shot shot{attributes.width, attributes.height, {}};
    XImage* image = XGetImage(xdisplay(), window, 0, 0, unsigned(shot.width), unsigned(shot.height),
                              AllPlanes, ZPixmap);
    if (!image)
        return {};
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            shot.pixels.push_back(XGetPixel(image, x, y) & 0xffffff);
    XDestroyImage(image);
    return shot;
}

// Keeps an image of the screen for a person to look at when a comparison fails.
void keep(const Shot& shot, const std::string& name) {
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, shot.width, shot.height);
    auto* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            reinterpret_cast<std::uint32_t*>(data + y * stride)[x] = std::uint32_t(shot.at(x, y));
    cairo_surface_mark_dirty(surface);
    const std::string path = testing::TempDir() + name + ".png";
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
}

TEST_F(PillWindowDriverGtkTest, StaticMarksLookAsTheSnapshotsDo) {
    const std::pair<std::string, PillState> states[] = {
        {"inserted", PillState::inserted("Notes")},
        {"copied", PillState::copied()},
        {"offline", PillState::offline()},
        {"refused", PillState::refused(RefuseReason::secureField)},
        {"limit", PillState::limit()},
    };
    for (const auto& [name, state] : states) {
        SCOPED_TRACE(name);
        panel->show(state, std::nullopt);
        const double shown = test::monotonicNow();
        // Ready once the panel's steps for this state have applied (on a busy machine they
        // can come after the 0.7 s), then once nothing moves.
        const auto reached = [&] {
            return panel->face() && panel->stage() == PillStage::pill(panel->face()->width) &&
                   model->shape().look.size.width == panel->face()->width;
        };
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return test::monotonicNow() - shown >= 0.7 && reached() && !driver->isAnimating();
            },
            30));
        // The window stands where the panel put it.
        Window child = 0;
        int x = 0, y = 0;
        XTranslateCoordinates(xdisplay(), driver->xWindow(), DefaultRootWindow(xdisplay()), 0, 0,
                              &x, &y, &child);
        const X11Rect expected = toX11Root(driver->frame(), primary());
        EXPECT_EQ(x, int(std::lround(expected.x)));
        EXPECT_EQ(y, int(std::lround(expected.y)));

        const auto snapshot = PillSnapshot::render(state, 1, PillLang::en, std::nullopt, 0);
        ASSERT_TRUE(snapshot);
        const Shot shot = capture(driver->xWindow());
        ASSERT_FALSE(shot.pixels.empty());
        const PillShapeState& shape = model->shape();
        const Point centre = toWindow(pillCentre(), model->window());
        const int left = int(std::lround(centre.x - shape.look.size.width / 2));
        const int top = int(std::lround(centre.y - shape.look.size.height / 2));
        cairo_surface_t* image = snapshot->surface.get();
        cairo_surface_flush(image);
        const int width = snapshot->pixelWidth(), height = snapshot->pixelHeight();
        ASSERT_EQ(width, int(shape.look.size.width));
        const auto* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        // Inside the capsule, 2 px in from its edge, where no edge smoothing differs.
        const double radius = height / 2.0 - 2;
        long compared = 0, far = 0;
        double total = 0;
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                const double px = i + 0.5, py = j + 0.5;
                const double cx = std::clamp(px, height / 2.0, width - height / 2.0);
                if (std::hypot(px - cx, py - height / 2.0) > radius)
                    continue;
                const std::uint32_t want =
                    reinterpret_cast<const std::uint32_t*>(data + j * stride)[i];
                const unsigned long got = shot.at(left + i, top + j);
                int worst = 0;
                for (int shift : {0, 8, 16}) {
                    const int d =
                        std::abs(int((want >> shift) & 0xff) - int((got >> shift) & 0xff));
                    worst = std::max(worst, d);
                    total += d;
                }
                ++compared;
                far += worst > 48;
            }
        }
        ASSERT_GT(compared, 1000);
        const double mean = total / (3.0 * double(compared));
        EXPECT_LT(mean, 3.0);
        EXPECT_LT(double(far) / double(compared), 0.02);
        if (HasFailure())
            keep(shot, "pill-" + name);
    }
}

// A plain window of one colour under the pill's whole area: what must show beside the pill.
class Backdrop {
public:
    static constexpr unsigned long colour = 0x2f9e44;

    explicit Backdrop(const X11Rect& area) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = colour;
        m_window = XCreateWindow(xdisplay(), DefaultRootWindow(xdisplay()), int(area.x),
                                 int(area.y), unsigned(area.width), unsigned(area.height), 0,
                                 CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &attributes);
        XMapWindow(xdisplay(), m_window);
        // Below every other window, the pill's included.
        XLowerWindow(xdisplay(), m_window);
        XSync(xdisplay(), False);
    }
    ~Backdrop() {
        XDestroyWindow(xdisplay(), m_window);
        XSync(xdisplay(), False);
    }
    Backdrop(const Backdrop&) = delete;
    Backdrop& operator=(const Backdrop&) = delete;

private:
    Window m_window = 0;
};

// Someone owning the compositing manager's selection, which is how X clients learn that a
// compositor runs. No compositor stands behind it here: whatever the pill leaves transparent
// then shows black, as it would on a desktop whose compositor is blending nothing yet.
class CompositorClaim {
public:
    CompositorClaim() : m_display(XOpenDisplay(DisplayString(xdisplay()))) {
        if (!m_display)
            return;
        m_owner = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(m_display, XInternAtom(m_display, "_NET_WM_CM_S0", False), m_owner,
                           CurrentTime);
        XSync(m_display, False);
    }
    ~CompositorClaim() { release(); }
    CompositorClaim(const CompositorClaim&) = delete;
    CompositorClaim& operator=(const CompositorClaim&) = delete;

    bool ok() const { return m_display != nullptr; }
    // The compositor leaves: its connection closes, and the selection with it.
    void release() {
        if (m_display)
            XCloseDisplay(m_display);
        m_display = nullptr;
    }

private:
    Display* m_display = nullptr;
    Window m_owner = 0;
};

// The screen's pixels over the pill's window, sorted by where each lies from the pill's
// capsule: well outside it, or well inside it (the edge pixels are smoothed either way).
struct AroundThePill {
    long outside = 0;
    long outsideNotBelow = 0; // outside, yet not the colour of the window below
    long inside = 0;
    long insideBelow = 0; // inside, yet the colour of the window below
};

class PillWindowWithoutCompositorTest : public PillWindowDriverGtkTest {
protected:
    X11Rect windowArea() const { return toX11Root(driver->frame(), primary()); }

    AroundThePill readAround(const std::string& name) {
        const PillShapeState& shape = model->shape();
        const Size size = shape.look.size;
        const X11Rect pill = toX11Root(
            Rect{{pillCentre().x - size.width / 2, pillCentre().y - size.height / 2}, size},
            primary());
        const double radius = std::min(size.width, size.height) / 2;
        // The part of the window that lies on the screen: the pill's box runs past its bottom.
        const X11Rect area = windowArea();
        const X11Rect screen = primary();
        const int left = std::max(0, int(area.x)), top = std::max(0, int(area.y));
        const int right = std::min(int(screen.width), int(area.x + area.width));
        const int bottom = std::min(int(screen.height), int(area.y + area.height));
        XImage* image =
            XGetImage(xdisplay(), DefaultRootWindow(xdisplay()), left, top, unsigned(right - left),
                      unsigned(bottom - top), AllPlanes, ZPixmap);
        AroundThePill found;
        if (!image)
            return found;
        Shot shot{right - left, bottom - top, {}};
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                const unsigned long pixel = XGetPixel(image, x - left, y - top) & 0xffffff;
                shot.pixels.push_back(pixel);
                // The distance from the pixel's centre to the capsule's outline.
                const double px = x + 0.5, py = y + 0.5;
                const double cx = std::clamp(px, pill.x + radius, pill.x + pill.width - radius);
                const double cy = std::clamp(py, pill.y + radius, pill.y + pill.height - radius);
                const double beyond = std::hypot(px - cx, py - cy) - radius;
                if (beyond > 1.5) {
                    ++found.outside;
                    found.outsideNotBelow += pixel != Backdrop::colour;
                } else if (beyond < -2) {
                    ++found.inside;
                    found.insideBelow += pixel == Backdrop::colour;
                }
            }
        }
        XDestroyImage(image);
        if (found.outsideNotBelow > 0 || found.insideBelow > 0)
            keep(shot, "around-" + name);
        return found;
    }

    void showAndSettle(const PillState& state) {
        panel->show(state, std::nullopt);
        const double shown = test::monotonicNow();
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return test::monotonicNow() - shown >= 0.7 && panel->face() &&
                       model->shape().look.size.width == panel->face()->width &&
                       !driver->isAnimating();
            },
            30));
    }
};

TEST_F(PillWindowWithoutCompositorTest, OnlyThePillsBodyShowsOverTheWindowBelow) {
    ASSERT_FALSE(driver->composited()) << "this test needs a server without a compositor";
    // The box the pill rests in at the bottom centre, whatever it shows.
    panel->setShowsIdleBar(true);
    ASSERT_TRUE(settle());
    const Backdrop below(windowArea());

    struct Row {
        std::string name;
        std::function<void()> bring;
    };
    const Row rows[] = {
        {"idle bar", [] {}},
        {"inserted", [&] { showAndSettle(PillState::inserted("Notes")); }},
        {"hands-free", [&] { showAndSettle(PillState::handsFree(3, "a few words")); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.bring();
        ASSERT_FALSE(HasFatalFailure());
        const AroundThePill seen = readAround(row.name);
        ASSERT_GT(seen.outside, 10000);
        ASSERT_GT(seen.inside, 100);
        EXPECT_EQ(seen.outsideNotBelow, 0);
        EXPECT_EQ(seen.insideBelow, 0);
    }
}

TEST_F(PillWindowWithoutCompositorTest, TheShapeFollowsTheCompositorAsItComesAndGoes) {
    ASSERT_FALSE(driver->composited()) << "this test needs a server without a compositor";
    panel->setShowsIdleBar(true);
    ASSERT_TRUE(settle());
    const Backdrop below(windowArea());
    showAndSettle(PillState::inserted("Notes"));
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(readAround("before").outsideNotBelow, 0);

    // A compositor takes over: the window is whole again, for it to blend.
    CompositorClaim compositor;
    ASSERT_TRUE(compositor.ok());
    ASSERT_TRUE(loop.runUntil([&] { return driver->composited(); }, 30));
    ASSERT_TRUE(settle());
    EXPECT_GT(readAround("composited").outsideNotBelow, 10000);

    // It leaves: the window is cut to the body again, and what lies below shows beside it.
    compositor.release();
    ASSERT_TRUE(loop.runUntil([&] { return !driver->composited(); }, 30));
    ASSERT_TRUE(settle());
    const AroundThePill after = readAround("after");
    EXPECT_EQ(after.outsideNotBelow, 0);
    EXPECT_EQ(after.insideBelow, 0);
}

TEST(PillWindowDriverGtkAlone, WithoutADisplayThePillIsUnavailable) {
    if (gdk_display_get_default())
        GTEST_SKIP() << "GTK already has a display in this process";
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    std::vector<std::string> lines;
    CoreLog::setSink([&](const std::string& line) { lines.push_back(line); });
    auto made = PillWindowDriverGtk::create(std::make_shared<PillModel>());
    CoreLog::setSink({});
    if (!saved.empty())
        setenv("DISPLAY", saved.c_str(), 1);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error(), PillWindowDriverGtkError::noDisplay);
    EXPECT_EQ(lines, (std::vector<std::string>{"pill: unavailable: no X11 display"}));
}

// For a person to watch: every sample state at every spot, on the display of the session.
// Run with --gtest_also_run_disabled_tests --gtest_filter='*Demo' (under scripts/desktop-session
// it runs on that session's Xvfb).
TEST_F(PillWindowDriverGtkTest, DISABLED_Demo) {
    panel->setDragEnabled(true);
    for (const PillSpot spot : {PillSpot::bottomCenter, PillSpot::topLeft, PillSpot::topCenter,
                                PillSpot::topRight, PillSpot::middleLeft, PillSpot::middleRight,
                                PillSpot::bottomLeft, PillSpot::bottomRight}) {
        panel->setSpot(spot, true);
        for (const auto& sample : PillSnapshot::samples(PillLang::en)) {
            panel->setMicrophoneName(sample.microphone);
            panel->show(sample.state, std::nullopt);
            loop.runFor(1.2);
        }
        panel->hide();
        panel->setShowsIdleBar(true);
        loop.runFor(2);
        panel->setShowsIdleBar(false);
    }
}

} // namespace
} // namespace talverin
