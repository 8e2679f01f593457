#pragma once

#include "Runtime/Result.h"
#include "TalverinPill/PillAnimator.h"
#include "TalverinPill/PillWindowDriver.h"
#include "TalverinPill/linux/PillWindowShapeX11.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkFrameClock GdkFrameClock;
typedef struct _GdkEventButton GdkEventButton;
typedef struct _GdkEventMotion GdkEventMotion;
typedef struct _GdkEventCrossing GdkEventCrossing;
typedef struct _cairo cairo_t;
typedef struct _GDBusProxy GDBusProxy;
typedef struct _GCancellable GCancellable;

namespace talverin {

class PillAccessibleGtk;
class PillModel;
class PillPointerMonitorX11;

enum class PillWindowDriverGtkError { noDisplay };

// The pill's window on X11 through GTK 3: an override-redirect popup with an RGBA visual that
// never takes the keyboard focus. It draws the overlay model with the animator's values of each
// frame, ticking only while something moves. Without a compositor it draws no shadows and the
// window's shape is cut to the pill's opaque body, following the compositor as it comes and
// goes; "ignores the mouse" is an empty input shape. Main thread only.
class PillWindowDriverGtk final : public PillWindowDriver {
public:
    // Needs GTK initialised on an X11 display; without one the pill is unavailable.
    static Result<std::shared_ptr<PillWindowDriverGtk>, PillWindowDriverGtkError>
    create(std::shared_ptr<PillModel> model);
    ~PillWindowDriverGtk() override;
    PillWindowDriverGtk(const PillWindowDriverGtk&) = delete;
    PillWindowDriverGtk& operator=(const PillWindowDriverGtk&) = delete;

    std::vector<PillScreen> screens() const override;
    Point pointerLocation() const override;
    bool isLeftButtonDown() const override;
    bool reduceMotion() const override;
    bool isVisible() const override;
    Rect frame() const override { return m_frame; }
    void setFrame(const Rect& frame) override;
    bool ignoresMouse() const override { return m_ignoresMouse; }
    void setIgnoresMouse(bool ignores) override;
    void orderFront() override;
    void orderOut() override;
    void layout() override;
    void display() override;
    void startMonitors() override;
    void stopMonitors() override;
    void announce(const std::string& text, PillAnnouncePriority priority) override;
    void popUpMenu(const std::vector<PillMenuItem>& items, Point at,
                   std::function<void(const PillMenuAction& action)> pick) override;
    void after(double seconds, std::function<void()> work) override;

    // Whether the window is still moving towards the model's values; once not, what it shows
    // is the model's scene exactly. For tests and for whoever waits for the pill to settle.
    bool isAnimating() const;
    // Frames drawn so far.
    std::uint64_t framesDrawn() const { return m_framesDrawn; }
    // The X window, for tests that look at it from outside; 0 before it is realised.
    unsigned long xWindow() const;
    // Whether the pointer monitors run.
    bool monitorsRunning() const;
    // Where the shown content's stop button is, in screen coordinates; none without one.
    std::optional<Rect> stopRect() const;
    // Whether a screen reader is known to run.
    bool screenReaderRunning() const { return m_screenReader; }
    // Whether a compositor blends the window, as last heard from the screen.
    bool composited() const { return m_composited; }

private:
    struct Menu;

    PillWindowDriverGtk(std::shared_ptr<PillModel> model, GtkWidget* window);
    static double now();
    void modelWillChange();
    void syncModel();
    // Gives the screen reader's view of the window the model's parts, where they come to rest.
    void syncAccessible();
    void wantFrames();
    void queueFrame();
    static int tick(GtkWidget* widget, GdkFrameClock* clock, void* self);
    // Frames for the polishing dots alone, at most 30 a second.
    void startPulse();
    void stopPulse();
    static int draw(GtkWidget* widget, cairo_t* cr, void* self);
    static int buttonPress(GtkWidget* widget, GdkEventButton* event, void* self);
    static int buttonRelease(GtkWidget* widget, GdkEventButton* event, void* self);
    static int motion(GtkWidget* widget, GdkEventMotion* event, void* self);
    static int leave(GtkWidget* widget, GdkEventCrossing* event, void* self);
    static void screensChanged(void* self);
    static void compositedChanged(void* self);
    bool send(const PillMouseEvent& event);
    void monitored();
    // The left button went up after a press on the window.
    void release(Point p);
    Point fromRoot(double x, double y) const;
    void applyInputShape();
    // Cuts the window to a frame's opaque body, or gives it back whole under a compositor.
    void applyShape(cairo_surface_t* frame);
    // An empty shape, for a window about to be mapped.
    void clearShape();
    void watchScreenReader();
    // Whether a screen reader runs, from the accessibility bus's cached status.
    void readScreenReader();

    std::shared_ptr<PillModel> m_model;
    GtkWidget* m_window = nullptr;
    PillAnimator m_animator;
    Rect m_frame{{0, 0}, {500, 124}};
    bool m_ignoresMouse = true;
    bool m_stopPressed = false;
    bool m_windowPress = false; // the left button went down on the window and is held
    bool m_drawPending = false; // a redraw is queued and not yet done
    unsigned m_syncSource = 0;
    unsigned m_tickId = 0;
    unsigned m_pulseId = 0;
    std::uint64_t m_framesDrawn = 0;
    std::unique_ptr<PillPointerMonitorX11> m_monitor;
    std::unique_ptr<PillAccessibleGtk> m_accessible;
    bool m_composited = false;
    PillWindowShapeX11 m_shape;
    // The opaque body of the last frame drawn, to cut at once when the compositor leaves.
    std::vector<PillWindowShapeX11::Span> m_body;
    std::unique_ptr<Menu> m_menu;
    GDBusProxy* m_a11yStatus = nullptr;
    GCancellable* m_cancel = nullptr;
    bool m_screenReader = false;
    std::vector<unsigned long> m_signals; // handlers on the display and screen
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace talverin
