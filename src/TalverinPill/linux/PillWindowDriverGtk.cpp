#include "TalverinPill/linux/PillWindowDriverGtk.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinPill/PillAnimatedView.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillOverlayViews.h"
#include "TalverinPill/PillRects.h"
#include "TalverinPill/linux/PillAccessibleGtk.h"
#include "TalverinPill/linux/PillPointerMonitorX11.h"

#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include <X11/Xlib.h>

#include <cmath>

namespace talverin {
namespace {

// Seconds between the Unix epoch and 2001-01-01 UTC, the origin of the pulsing dots' time.
constexpr double referenceEpoch = 978307200;
// The pulsing dots' frames come no closer than 1/30 s (GLib's timers count whole milliseconds).
constexpr unsigned pulseIntervalMs = 34;

using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using CairoPtr = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;
using RegionPtr = std::unique_ptr<cairo_region_t, decltype(&cairo_region_destroy)>;

GdkMonitor* primaryMonitor(GdkDisplay* display) {
    if (GdkMonitor* primary = gdk_display_get_primary_monitor(display))
        return primary;
    return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

X11Rect x11Rect(const GdkRectangle& r) {
    return {double(r.x), double(r.y), double(r.width), double(r.height)};
}

// The primary monitor in root coordinates: the origin and the flip of screen coordinates.
X11Rect primaryRect() {
    GdkDisplay* display = gdk_display_get_default();
    GdkRectangle geometry{0, 0, 0, 0};
    if (GdkMonitor* primary = display ? primaryMonitor(display) : nullptr)
        gdk_monitor_get_geometry(primary, &geometry);
    return x11Rect(geometry);
}

} // namespace

// The open context menu and the actions its items stand for, by index.
struct PillWindowDriverGtk::Menu {
    GtkWidget* widget = nullptr;
    std::vector<PillMenuAction> actions;
    std::function<void(const PillMenuAction&)> pick;

    ~Menu() {
        if (widget) {
            gtk_widget_destroy(widget);
            g_object_unref(widget);
        }
    }

    GtkWidget* build(const std::vector<PillMenuItem>& items) {
        GtkWidget* menu = gtk_menu_new();
        for (const PillMenuItem& item : items) {
            if (item.isSeparator) {
                gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
                continue;
            }
            // A checked item shows its mark; an unchecked one is plain, with no empty box.
            GtkWidget* entry = item.checked ? gtk_check_menu_item_new_with_label(item.title.c_str())
                                            : gtk_menu_item_new_with_label(item.title.c_str());
            // Setting the check emits "activate": it goes before the handler is connected.
            if (item.checked)
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), TRUE);
            if (!item.children.empty()) {
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(entry), build(item.children));
            } else if (item.action) {
                actions.push_back(*item.action);
                g_object_set_data(G_OBJECT(entry), "talverin-tag",
                                  GINT_TO_POINTER(int(actions.size()) - 1));
                g_signal_connect(entry, "activate", G_CALLBACK(&Menu::choose), this);
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
        }
        gtk_widget_show_all(menu);
        return menu;
    }

    static void choose(GtkMenuItem* item, void* context) {
        auto* self = static_cast<Menu*>(context);
        const int tag = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "talverin-tag"));
        if (tag < 0 || std::size_t(tag) >= self->actions.size() || !self->pick)
            return;
        // The pick runs on a later turn, after the menu has closed and let go of its grabs.
        MainQueue::post(
            [pick = self->pick, action = self->actions[std::size_t(tag)]] { pick(action); });
    }
};

PillWindowDriverGtk::PillWindowDriverGtk(std::shared_ptr<PillModel> model, GtkWidget* window)
    : m_model(std::move(model)), m_window(window), m_animator(*m_model) {}

Result<std::shared_ptr<PillWindowDriverGtk>, PillWindowDriverGtkError>
PillWindowDriverGtk::create(std::shared_ptr<PillModel> model) {
    if (!gdk_display_get_default()) {
        // The pill needs override-redirect windows and root-window events: X11 alone.
        gdk_set_allowed_backends("x11");
        if (!gtk_init_check(nullptr, nullptr)) {
            CoreLog::write("pill: unavailable: no X11 display");
            return fail(PillWindowDriverGtkError::noDisplay, "no X11 display");
        }
    }
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) {
        CoreLog::write("pill: unavailable: no X11 display");
        return fail(PillWindowDriverGtkError::noDisplay, "no X11 display");
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window)))
        gtk_widget_set_visual(window, rgba);
    gtk_widget_set_app_paintable(window, TRUE);
    gtk_window_set_accept_focus(GTK_WINDOW(window), FALSE);
    gtk_window_set_focus_on_map(GTK_WINDOW(window), FALSE);
    gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
    gtk_window_set_title(GTK_WINDOW(window), "Talverin");
    gtk_window_resize(GTK_WINDOW(window), 500, 124);
    gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                      GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK);
    gtk_widget_realize(window);
    // No background: the server paints nothing where the window's shape opens up, so no
    // frame ever flashes a rectangle before the new shape is cut.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_window_set_background_pattern(gtk_widget_get_window(window), nullptr);
    G_GNUC_END_IGNORE_DEPRECATIONS

    std::shared_ptr<PillWindowDriverGtk> driver(new PillWindowDriverGtk(std::move(model), window));
    PillWindowDriverGtk* self = driver.get();
    g_signal_connect(window, "draw", G_CALLBACK(&PillWindowDriverGtk::draw), self);
    g_signal_connect(window, "button-press-event", G_CALLBACK(&PillWindowDriverGtk::buttonPress),
                     self);
    g_signal_connect(window, "button-release-event",
                     G_CALLBACK(&PillWindowDriverGtk::buttonRelease), self);
    g_signal_connect(window, "motion-notify-event", G_CALLBACK(&PillWindowDriverGtk::motion), self);
    g_signal_connect(window, "leave-notify-event", G_CALLBACK(&PillWindowDriverGtk::leave), self);
    // GTK sets the window's input shape anew whenever it lays out the window's parts.
    g_signal_connect_after(window, "size-allocate",
                           G_CALLBACK(+[](GtkWidget*, GdkRectangle*, gpointer driver) {
                               static_cast<PillWindowDriverGtk*>(driver)->applyInputShape();
                           }),
                           self);
    // The callbacks take the driver as their first argument and ignore the signal's own.
    auto changed = G_CALLBACK(&PillWindowDriverGtk::screensChanged);
    self->m_signals.push_back(g_signal_connect_swapped(display, "monitor-added", changed, self));
    self->m_signals.push_back(g_signal_connect_swapped(display, "monitor-removed", changed, self));
    GdkScreen* screen = gdk_display_get_default_screen(display);
    self->m_signals.push_back(g_signal_connect_swapped(screen, "monitors-changed", changed, self));
    self->m_signals.push_back(g_signal_connect_swapped(screen, "size-changed", changed, self));
    self->m_signals.push_back(g_signal_connect_swapped(
        screen, "composited-changed", G_CALLBACK(&PillWindowDriverGtk::compositedChanged), self));
    self->m_composited = gdk_screen_is_composited(screen);
    self->clearShape();

    self->m_model->onWillChange = [self] { self->modelWillChange(); };
    // The buttons' default actions are the clicks the window's own mouse handling makes.
    self->m_accessible = std::make_unique<PillAccessibleGtk>(window);
    self->m_accessible->onStop = [self] {
        if (self->m_model->onStop)
            self->m_model->onStop();
    };
    self->m_accessible->onMicPress = [self] {
        if (self->m_model->onRestPress)
            self->m_model->onRestPress();
    };
    self->m_monitor =
        std::make_unique<PillPointerMonitorX11>(DisplayString(GDK_DISPLAY_XDISPLAY(display)));
    self->m_monitor->onEvent = [self] { self->monitored(); };
    self->applyInputShape();
    self->watchScreenReader();
    return driver;
}

PillWindowDriverGtk::~PillWindowDriverGtk() {
    *m_alive = false;
    if (m_cancel) {
        g_cancellable_cancel(m_cancel);
        g_object_unref(m_cancel);
    }
    if (m_a11yStatus) {
        g_signal_handlers_disconnect_by_data(m_a11yStatus, this);
        g_object_unref(m_a11yStatus);
    }
    if (m_syncSource)
        g_source_remove(m_syncSource);
    stopPulse();
    GdkDisplay* display = gdk_display_get_default();
    GdkScreen* screen = gdk_display_get_default_screen(display);
    for (std::size_t i = 0; i < m_signals.size(); ++i)
        g_signal_handler_disconnect(
            i < 2 ? static_cast<gpointer>(display) : static_cast<gpointer>(screen), m_signals[i]);
    m_monitor.reset();
    m_menu.reset();
    m_accessible.reset();
    m_model->onWillChange = nullptr;
    gtk_widget_destroy(m_window);
}

double PillWindowDriverGtk::now() {
    return double(g_get_monotonic_time()) / 1e6;
}

std::vector<PillScreen> PillWindowDriverGtk::screens() const {
    GdkDisplay* display = gdk_display_get_default();
    std::vector<PillScreen> out;
    GdkMonitor* primary = primaryMonitor(display);
    if (!primary)
        return out;
    GdkRectangle origin;
    gdk_monitor_get_geometry(primary, &origin);
    const int count = gdk_display_get_n_monitors(display);
    for (int i = -1; i < count; ++i) {
        GdkMonitor* monitor = i < 0 ? primary : gdk_display_get_monitor(display, i);
        if (i >= 0 && monitor == primary)
            continue;
        GdkRectangle geometry, workarea;
        gdk_monitor_get_geometry(monitor, &geometry);
        gdk_monitor_get_workarea(monitor, &workarea);
        PillScreen screen;
        // The RandR output, which stays with the display when others come and go; synthetic
        // monitors have none.
        screen.id =
            GDK_IS_X11_MONITOR(monitor) ? std::uint32_t(gdk_x11_monitor_get_output(monitor)) : 0;
        screen.frame = fromX11Root(x11Rect(geometry), x11Rect(origin));
        screen.visibleFrame = fromX11Root(x11Rect(workarea), x11Rect(origin));
        out.push_back(screen);
    }
    return out;
}

Point PillWindowDriverGtk::fromRoot(double x, double y) const {
    return fromX11Root(X11Point{x, y}, primaryRect());
}

Point PillWindowDriverGtk::pointerLocation() const {
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(x, DefaultRootWindow(x), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
        return {};
    return fromRoot(rootX, rootY);
}

bool PillWindowDriverGtk::isLeftButtonDown() const {
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    return XQueryPointer(x, DefaultRootWindow(x), &root, &child, &rootX, &rootY, &winX, &winY,
                         &mask) &&
           (mask & Button1Mask);
}

bool PillWindowDriverGtk::reduceMotion() const {
    gboolean animations = TRUE;
    g_object_get(gtk_settings_get_default(), "gtk-enable-animations", &animations, nullptr);
    return !animations;
}

bool PillWindowDriverGtk::isVisible() const {
    return gtk_widget_get_visible(m_window);
}

void PillWindowDriverGtk::setFrame(const Rect& frame) {
    m_frame = frame;
    const X11Rect r = toX11Root(frame, primaryRect());
    const int width = std::max(1, int(std::lround(r.width)));
    const int height = std::max(1, int(std::lround(r.height)));
    gtk_window_move(GTK_WINDOW(m_window), int(std::lround(r.x)), int(std::lround(r.y)));
    // GTK applies both on its next layout pass and holds the window's updates until the
    // server confirms; moving the X window behind its back would leave them held.
    gtk_window_resize(GTK_WINDOW(m_window), width, height);
}

void PillWindowDriverGtk::setIgnoresMouse(bool ignores) {
    if (m_ignoresMouse == ignores)
        return;
    m_ignoresMouse = ignores;
    applyInputShape();
}

void PillWindowDriverGtk::applyInputShape() {
    GdkWindow* window = gtk_widget_get_window(m_window);
    if (!window)
        return;
    if (m_ignoresMouse) {
        RegionPtr none(cairo_region_create(), cairo_region_destroy);
        gdk_window_input_shape_combine_region(window, none.get(), 0, 0);
    } else {
        gdk_window_input_shape_combine_region(window, nullptr, 0, 0);
    }
}

void PillWindowDriverGtk::orderFront() {
    syncModel();
    gtk_widget_show(m_window);
    if (GdkWindow* window = gtk_widget_get_window(m_window))
        gdk_window_raise(window);
    applyInputShape();
    wantFrames();
}

void PillWindowDriverGtk::orderOut() {
    if (!isVisible())
        return;
    gtk_widget_hide(m_window);
    clearShape();
    if (m_tickId)
        gtk_widget_remove_tick_callback(m_window, m_tickId);
    m_tickId = 0;
    stopPulse();
}

void PillWindowDriverGtk::layout() {
    // The scene is laid out afresh for every frame it draws.
}

void PillWindowDriverGtk::display() {
    syncModel();
}

void PillWindowDriverGtk::modelWillChange() {
    // The model calls before its value changes: the new values are read on a turn of the
    // loop ahead of the next redraw, once for a whole batch of changes.
    if (m_syncSource)
        return;
    m_syncSource = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](void* self) -> gboolean {
            auto* driver = static_cast<PillWindowDriverGtk*>(self);
            driver->m_syncSource = 0;
            driver->syncModel();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void PillWindowDriverGtk::syncModel() {
    m_animator.sync(*m_model, now());
    syncAccessible();
    wantFrames();
}

void PillWindowDriverGtk::syncAccessible() {
    PillAccessibleGtk::Scene scene;
    const Rect& window = m_model->window();
    // A rectangle of the screen (y up) in the window (y down).
    auto inWindow = [&](const Rect& r) {
        const Point topLeft = toWindow({r.minX(), r.maxY()}, window);
        return Rect{topLeft, r.size};
    };
    const PillShapeState& shape = m_model->shape();
    const Size size = shape.look.size;
    const Rect frame{
        {shape.centre.x - shape.grab.x * size.width, shape.centre.y - shape.grab.y * size.height},
        size};
    if (shape.opacity > 0 && !m_model->layers().empty()) {
        const PillContentLayer& layer = m_model->layers().back();
        const Size layerSize = PillShapeView::layerSize(layer.kind);
        const Rect content = PillGeometry::contentFrame(layerSize, frame, m_model->align());
        if (const PillFace* face = layer.kind.asFace()) {
            scene.row = {face->accessibilityLabel, inWindow(content)};
            if (face->stopLabel)
                scene.stop = {*face->stopLabel, inWindow(PillGeometry::stopRect(content))};
        } else if (const auto* mic = layer.kind.asMic()) {
            // The button is the disc in the middle of its content.
            const double disc = PillMicMetrics::micSize;
            scene.mic = {
                mic->label,
                inWindow({{content.midX() - disc / 2, content.midY() - disc / 2}, {disc, disc}})};
        } else if (const auto* hover = layer.kind.asHover()) {
            scene.hint = {hover->lead + " " + hover->key, inWindow(content)};
        }
    } else if (shape.opacity > 0 && !m_model->restLabel.empty()) {
        // The idle bar: a press on it starts dictating as the microphone button does.
        scene.mic = {m_model->restLabel, inWindow(frame)};
    }
    m_accessible->update(scene);
}

void PillWindowDriverGtk::queueFrame() {
    m_drawPending = true;
    gtk_widget_queue_draw(m_window);
}

void PillWindowDriverGtk::wantFrames() {
    if (!isVisible())
        return;
    queueFrame();
    const double t = now();
    if (m_animator.moving(t)) {
        if (!m_tickId)
            m_tickId = gtk_widget_add_tick_callback(
                m_window, reinterpret_cast<GtkTickCallback>(&PillWindowDriverGtk::tick), this,
                nullptr);
        stopPulse();
    } else if (!m_tickId && m_animator.pulsing(t)) {
        startPulse();
    }
}

int PillWindowDriverGtk::tick(GtkWidget* widget, GdkFrameClock*, void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    (void)widget;
    self->queueFrame();
    const double t = now();
    if (self->m_animator.moving(t))
        return G_SOURCE_CONTINUE;
    // This frame shows the values at rest; nothing ticks until the model changes again, but
    // for the dots' own slower pulse.
    self->m_tickId = 0;
    if (self->m_animator.pulsing(t))
        self->startPulse();
    return G_SOURCE_REMOVE;
}

void PillWindowDriverGtk::startPulse() {
    if (m_pulseId)
        return;
    // The dots change slowly: a frame every 1/30 s at most shows their pulse as smoothly as
    // the display's own rate, at half the cost or less.
    m_pulseId = g_timeout_add(
        pulseIntervalMs,
        [](void* context) -> gboolean {
            auto* self = static_cast<PillWindowDriverGtk*>(context);
            if (self->m_tickId || !self->isVisible() || !self->m_animator.pulsing(now())) {
                self->m_pulseId = 0;
                return G_SOURCE_REMOVE;
            }
            self->queueFrame();
            return G_SOURCE_CONTINUE;
        },
        this);
}

void PillWindowDriverGtk::stopPulse() {
    if (m_pulseId)
        g_source_remove(m_pulseId);
    m_pulseId = 0;
}

bool PillWindowDriverGtk::isAnimating() const {
    return m_tickId != 0 || m_syncSource != 0 || (m_drawPending && isVisible()) ||
           m_animator.animating(now());
}

unsigned long PillWindowDriverGtk::xWindow() const {
    GdkWindow* window = gtk_widget_get_window(m_window);
    return window ? GDK_WINDOW_XID(window) : 0;
}

int PillWindowDriverGtk::draw(GtkWidget* widget, cairo_t* cr, void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    const double t = now();
    const int width = gtk_widget_get_allocated_width(widget);
    const int height = gtk_widget_get_allocated_height(widget);
    CairoSurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height),
                          cairo_surface_destroy);
    {
        CairoPtr ic(cairo_create(image.get()), cairo_destroy);
        const auto frame = self->m_animator.frame(t);
        const double wall = double(g_get_real_time()) / 1e6 - referenceEpoch;
        PillAnimatedView{*self->m_model, frame, wall, self->m_stopPressed, self->m_composited}.draw(
            ic.get());
    }
    cairo_surface_flush(image.get());
    // The shape is cut before the frame reaches the window, so a frame that shrinks never
    // shows its transparent margin, and one that grows paints what the new shape opens.
    self->applyShape(image.get());
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    ++self->m_framesDrawn;
    self->m_drawPending = false;
    return TRUE;
}

std::optional<Rect> PillWindowDriverGtk::stopRect() const {
    const auto& layers = m_model->layers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const PillFace* face = it->kind.asFace();
        if (!face)
            continue;
        if (!face->stop())
            return std::nullopt;
        const PillShapeState& shape = m_model->shape();
        const Size size = shape.look.size;
        const Rect frame{{shape.centre.x - shape.grab.x * size.width,
                          shape.centre.y - shape.grab.y * size.height},
                         size};
        const Rect content =
            PillGeometry::contentFrame({face->width, PillLayout::height}, frame, m_model->align());
        return PillGeometry::stopRect(content);
    }
    return std::nullopt;
}

bool PillWindowDriverGtk::send(const PillMouseEvent& event) {
    return onMouse && onMouse(event);
}

int PillWindowDriverGtk::buttonPress(GtkWidget*, GdkEventButton* event, void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    if (event->type != GDK_BUTTON_PRESS)
        return TRUE; // the double- and triple-click events repeat a press already sent
    const Point p = self->fromRoot(event->x_root, event->y_root);
    if (event->button == 3 || (event->button == 1 && (event->state & GDK_CONTROL_MASK))) {
        self->send(PillMouseEvent::rightDown(p));
        return TRUE;
    }
    if (event->button != 1)
        return FALSE;
    self->m_windowPress = true;
    if (!self->send(PillMouseEvent::down(p))) {
        const auto stop = self->stopRect();
        if (stop && PillGeometry::isOnStop(p, *stop)) {
            self->m_stopPressed = true;
            self->wantFrames();
        }
    }
    return TRUE;
}

int PillWindowDriverGtk::buttonRelease(GtkWidget*, GdkEventButton* event, void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    if (event->button != 1)
        return FALSE;
    self->m_windowPress = false;
    self->release(self->pointerLocation());
    return TRUE;
}

int PillWindowDriverGtk::motion(GtkWidget*, GdkEventMotion* event, void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    if (event->state & GDK_BUTTON1_MASK)
        self->send(PillMouseEvent::dragged(self->pointerLocation()));
    else
        self->send(PillMouseEvent::moved());
    return TRUE;
}

int PillWindowDriverGtk::leave(GtkWidget*, GdkEventCrossing*, void* context) {
    static_cast<PillWindowDriverGtk*>(context)->send(PillMouseEvent::moved());
    return FALSE;
}

void PillWindowDriverGtk::applyShape(cairo_surface_t* frame) {
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    m_body = PillWindowShapeX11::opaqueSpans(frame);
    if (m_composited)
        m_shape.reset(x, xWindow());
    else
        m_shape.cut(x, xWindow(), m_body);
}

void PillWindowDriverGtk::clearShape() {
    // Until its first frame is drawn, a window mapped without a compositor shows nothing.
    m_body.clear();
    if (!m_composited)
        m_shape.cut(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), xWindow(), m_body);
}

void PillWindowDriverGtk::compositedChanged(void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    const bool composited = gdk_screen_is_composited(gtk_widget_get_screen(self->m_window));
    if (composited == self->m_composited)
        return;
    self->m_composited = composited;
    // A compositor that leaves hands the window back to the server as it is, margins and
    // shadows black: the last frame's body is cut at once, before the frame without shadows.
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    if (self->xWindow()) {
        if (composited)
            self->m_shape.reset(x, self->xWindow());
        else
            self->m_shape.cut(x, self->xWindow(), self->m_body);
    }
    self->wantFrames();
}

void PillWindowDriverGtk::screensChanged(void* context) {
    auto* self = static_cast<PillWindowDriverGtk*>(context);
    if (self->onScreensChanged)
        self->onScreensChanged();
}

void PillWindowDriverGtk::monitored() {
    if (!m_windowPress) {
        send(PillMouseEvent::moved());
        return;
    }
    // A press on the window runs, and the window keeps the pointer through the implicit grab.
    // GDK holds a motion event back until its frame clock flushes the queue, and with the
    // pointer outside the window's shape nothing asks for that flush: the raw events do, so
    // the motion and the release behind it arrive, and they carry the drag on meanwhile.
    if (GdkFrameClock* clock = gtk_widget_get_frame_clock(m_window))
        gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
    send(PillMouseEvent::dragged(pointerLocation()));
}

void PillWindowDriverGtk::release(Point p) {
    const bool consumed = send(PillMouseEvent::up(p));
    if (m_stopPressed) {
        m_stopPressed = false;
        wantFrames();
        const auto stop = stopRect();
        if (!consumed && stop && PillGeometry::isOnStop(p, *stop) && m_model->onStop)
            m_model->onStop();
    }
}

void PillWindowDriverGtk::startMonitors() {
    m_monitor->start();
}

void PillWindowDriverGtk::stopMonitors() {
    m_monitor->stop();
}

bool PillWindowDriverGtk::monitorsRunning() const {
    return m_monitor->running();
}

void PillWindowDriverGtk::watchScreenReader() {
    // Without a session bus there is no screen reader to speak to; asking for one would start
    // a bus of its own through X11 autolaunch.
    if (!g_getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    m_cancel = g_cancellable_new();
    g_dbus_proxy_new_for_bus(
        G_BUS_TYPE_SESSION, G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, nullptr, "org.a11y.Bus",
        "/org/a11y/bus", "org.a11y.Status", m_cancel,
        [](GObject*, GAsyncResult* result, gpointer context) {
            GError* error = nullptr;
            GDBusProxy* proxy = g_dbus_proxy_new_for_bus_finish(result, &error);
            if (!proxy) {
                // Cancelled means the driver is gone; any other error means no bus: off.
                g_error_free(error);
                return;
            }
            auto* self = static_cast<PillWindowDriverGtk*>(context);
            self->m_a11yStatus = proxy;
            self->readScreenReader();
            g_signal_connect_swapped(
                proxy, "g-properties-changed",
                G_CALLBACK(+[](PillWindowDriverGtk* driver) { driver->readScreenReader(); }), self);
        },
        this);
}

void PillWindowDriverGtk::readScreenReader() {
    GVariant* value = g_dbus_proxy_get_cached_property(m_a11yStatus, "ScreenReaderEnabled");
    m_screenReader = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                     g_variant_get_boolean(value);
    if (value)
        g_variant_unref(value);
}

void PillWindowDriverGtk::announce(const std::string& text, PillAnnouncePriority) {
    // ATK's announcement carries no priority; the bridge forwards it as it is.
    if (!m_screenReader || text.empty())
        return;
    AtkObject* accessible = gtk_widget_get_accessible(m_window);
    if (accessible && g_signal_lookup("announcement", G_OBJECT_TYPE(accessible)) != 0)
        g_signal_emit_by_name(accessible, "announcement", text.c_str());
}

void PillWindowDriverGtk::popUpMenu(const std::vector<PillMenuItem>& items, Point at,
                                    std::function<void(const PillMenuAction&)> pick) {
    m_menu.reset();
    m_menu = std::make_unique<Menu>();
    m_menu->pick = std::move(pick);
    m_menu->widget = m_menu->build(items);
    g_object_ref_sink(m_menu->widget);
    // The menu lives until it closes; it goes on a later turn, as an item's "activate" comes
    // after the menu's "deactivate".
    g_signal_connect(m_menu->widget, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer c) {
                         auto* self = static_cast<PillWindowDriverGtk*>(c);
                         MainQueue::post([alive = std::weak_ptr<bool>(self->m_alive), self, shell] {
                             if (auto a = alive.lock(); a && *a && self->m_menu &&
                                                        self->m_menu->widget == GTK_WIDGET(shell))
                                 self->m_menu.reset();
                         });
                     }),
                     this);
    GdkWindow* window = gtk_widget_get_window(m_window);
    if (isVisible() && window) {
        const X11Rect origin = toX11Root(m_frame, primaryRect());
        const X11Rect point = toX11Root({at, {0, 0}}, primaryRect());
        GdkRectangle rect{int(std::lround(point.x - origin.x)),
                          int(std::lround(point.y - origin.y)), 1, 1};
        gtk_menu_popup_at_rect(GTK_MENU(m_menu->widget), window, &rect, GDK_GRAVITY_NORTH_WEST,
                               GDK_GRAVITY_NORTH_WEST, nullptr);
    } else {
        gtk_menu_popup_at_pointer(GTK_MENU(m_menu->widget), nullptr);
    }
}

void PillWindowDriverGtk::after(double seconds, std::function<void()> work) {
    MainQueue::after(seconds, std::move(work));
}

} // namespace talverin
