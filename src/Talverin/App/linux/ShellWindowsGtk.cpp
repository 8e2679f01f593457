#include "Talverin/App/linux/ShellWindowsGtk.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Paths.h"
#include "Talverin/App/EditKey.h"
#include "Talverin/App/L10n.h"
#include "Talverin/App/Log.h"
#include "Talverin/Web/UrlOpening.h"
#include "Talverin/Web/linux/WebViewController.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace talverin {

namespace {

StatusItemSni::Texts menuTexts() {
    if (L10n::isRussian())
        return {"Автоматически запоминать исправления", "Разрешения и настройка…",
                "Открыть журнал", "Выйти из Talverin"};
    return {"Learn word corrections automatically", "Permissions and Setup…", "Open Log",
            "Quit Talverin"};
}

const char* editCommand(EditAction action) {
    switch (action) {
    case EditAction::undo:
        return WEBKIT_EDITING_COMMAND_UNDO;
    case EditAction::redo:
        return WEBKIT_EDITING_COMMAND_REDO;
    case EditAction::cut:
        return WEBKIT_EDITING_COMMAND_CUT;
    case EditAction::copy:
        return WEBKIT_EDITING_COMMAND_COPY;
    case EditAction::paste:
        return WEBKIT_EDITING_COMMAND_PASTE;
    case EditAction::selectAll:
        return WEBKIT_EDITING_COMMAND_SELECT_ALL;
    }
    return WEBKIT_EDITING_COMMAND_COPY;
}

std::uint32_t modifiersOf(guint state) {
    std::uint32_t bits = 0;
    if (state & GDK_SHIFT_MASK)
        bits |= EditKey::shift;
    if (state & GDK_CONTROL_MASK)
        bits |= EditKey::control;
    if (state & GDK_MOD1_MASK)
        bits |= EditKey::alt;
    if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK))
        bits |= EditKey::super;
    return bits;
}

// What the key types without modifiers in the active layout group.
std::optional<std::string> charactersOf(GdkEventKey* event) {
    guint keyval = 0;
    if (!gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_display_get_default()),
                                             event->hardware_keycode, GdkModifierType(0),
                                             event->group, &keyval, nullptr, nullptr, nullptr))
        return std::nullopt;
    const gunichar c = gdk_keyval_to_unicode(keyval);
    if (c == 0)
        return std::nullopt;
    char utf8[8] = {};
    g_unichar_to_utf8(c, utf8);
    return std::string(utf8);
}

// The glyph's colour: white on a dark theme, black otherwise.
MenuBarIcon::Tint themeTint() {
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings)
        return MenuBarIcon::Tint::white;
    gboolean preferDark = FALSE;
    gchar* name = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name",
                 &name, nullptr);
    std::string theme = name ? name : "";
    g_free(name);
    std::transform(theme.begin(), theme.end(), theme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool dark = preferDark || theme.find("dark") != std::string::npos;
    return dark ? MenuBarIcon::Tint::white : MenuBarIcon::Tint::black;
}

class WebKitPage final : public ShellWindowsGtk::Page {
public:
    WebKitPage(Bridge& bridge, UrlOpening& opener, const DefaultsStore& defaults,
            const ShellWindowsGtk::PageOptions& options)
        : m_controller(bridge, opener, defaults,
                       WebViewController::Options{options.route, options.role, options.width,
                                                  options.height, options.theme, {}}) {}
    GtkWidget* view() override { return m_controller.view(); }
    void setTheme(ThemeSetting theme) override { m_controller.setTheme(theme); }
    void edit(EditAction action) override {
        if (m_controller.webView())
            webkit_web_view_execute_editing_command(m_controller.webView(), editCommand(action));
    }
    void whenLoaded(std::function<void()> ready) override {
        if (m_controller.isLoaded()) {
            ready();
            return;
        }
        m_waiting.push_back(std::move(ready));
        m_controller.onLoaded = [this] {
            auto waiting = std::exchange(m_waiting, {});
            for (auto& ready : waiting)
                ready();
        };
    }

private:
    WebViewController m_controller;
    std::vector<std::function<void()>> m_waiting;
};

} // namespace

ShellWindowsGtk::PageMaker ShellWindowsGtk::webPages(std::shared_ptr<UrlOpening> opener,
                                                     const DefaultsStore& defaults) {
    return [opener, &defaults](Bridge& bridge, const PageOptions& options) -> std::unique_ptr<Page> {
        return std::make_unique<WebKitPage>(bridge, *opener, defaults, options);
    };
}

struct ShellWindowsGtk::Callbacks {
    static gboolean keyPress(GtkWidget* window, GdkEventKey* event, gpointer self) {
        return static_cast<ShellWindowsGtk*>(self)->keyPressed(window, event) ? TRUE : FALSE;
    }
    static gboolean popoverFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<ShellWindowsGtk*>(data)->popoverLostFocus();
        return FALSE;
    }
    static gboolean popoverPress(GtkWidget* window, GdkEventButton* event, gpointer data) {
        // Through the grab, a press on another client's window arrives at the popover's own
        // window with coordinates outside it; a press on the page arrives at the page's.
        if (event->window != gtk_widget_get_window(window))
            return FALSE;
        const int width = gtk_widget_get_allocated_width(window);
        const int height = gtk_widget_get_allocated_height(window);
        if (event->x >= 0 && event->y >= 0 && event->x < width && event->y < height)
            return FALSE;
        static_cast<ShellWindowsGtk*>(data)->pressedOutside();
        return TRUE;
    }
    static gboolean popoverMapped(GtkWidget*, GdkEvent*, gpointer data) {
        auto* self = static_cast<ShellWindowsGtk*>(data);
        self->grabPointer(self->m_showing, grabRetries);
        return FALSE;
    }
    static gboolean popoverGrabBroken(GtkWidget*, GdkEvent*, gpointer data) {
        // A menu of the page took the pointer; the focus still closes the popover.
        static_cast<ShellWindowsGtk*>(data)->m_grabbed = false;
        return FALSE;
    }
    static gboolean popoverDelete(GtkWidget*, GdkEvent*, gpointer data) {
        // The window manager closes it: the same close as every other, and the window stays.
        static_cast<ShellWindowsGtk*>(data)->closePopover();
        return TRUE;
    }
    static gboolean focusIn(GtkWidget* window, GdkEvent*, gpointer data) {
        auto* self = static_cast<ShellWindowsGtk*>(data);
        // A menu of the page took the pointer for a while; back in the popover, a press
        // outside closes it again.
        if (window == self->m_popover && self->isPopoverShown()) {
            self->m_focusedInShowing = true;
            if (!self->m_grabbed)
                self->grabPointer(self->m_showing, grabRetries);
        }
        if (self->onActivated)
            self->onActivated();
        return FALSE;
    }
    static gboolean onboardingDelete(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<ShellWindowsGtk*>(data)->onboardingClosed();
        return TRUE;
    }
    static gboolean onboardingState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
        auto* self = static_cast<ShellWindowsGtk*>(data);
        self->m_onboardingIconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        if (self->onScreenChange)
            self->onScreenChange();
        return FALSE;
    }
    static gboolean onboardingVisibility(GtkWidget*, GdkEvent* event, gpointer data) {
        auto* self = static_cast<ShellWindowsGtk*>(data);
        self->m_onboardingObscured = event->visibility.state == GDK_VISIBILITY_FULLY_OBSCURED;
        if (self->onScreenChange)
            self->onScreenChange();
        return FALSE;
    }
};

ShellWindowsGtk::ShellWindowsGtk(GDBusConnection* bus, PageMaker makePage,
                                 std::shared_ptr<UrlOpening> opener)
    : m_bus(bus), m_makePage(std::move(makePage)), m_opener(std::move(opener)) {}

ShellWindowsGtk::~ShellWindowsGtk() {
    if (m_onboarding)
        gtk_widget_destroy(m_onboarding);
    if (m_popover)
        gtk_widget_destroy(m_popover);
}

void ShellWindowsGtk::install(Bridge& bridge) {
    m_bridge = &bridge;
    // Without a StatusNotifierItem host the pages say where Talverin is instead of the tray.
    bridge.hasTrayHost = [this] { return m_statusItem && m_statusItem->isRegistered(); };
    if (m_bus) {
        m_statusItem = std::make_unique<StatusItemSni>(m_bus, menuTexts());
        m_statusItem->onActivate = [this](int x, int y) { activate(x, y); };
        // Hosts that ignore the menu get the popover instead of nothing.
        m_statusItem->onContextMenu = [this](int x, int y) { activate(x, y); };
        m_statusItem->learningIsOn = [this] { return !learningIsOn || learningIsOn(); };
        m_statusItem->onToggleLearning = [this] {
            if (onToggleLearning)
                onToggleLearning();
        };
        m_statusItem->onOpenOnboarding = [this] {
            if (onOpenOnboarding)
                onOpenOnboarding();
        };
        m_statusItem->onOpenLog = [this] { openLog(); };
        m_statusItem->onQuit = [this] {
            if (onQuit)
                onQuit();
        };
        setStatusIcon(MenuBarIcon::image(MenuBarIcon::Idle{}));
    }

    // The window is cheap and made now; its page, with its web processes, waits for the first
    // showing.
    m_popover = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_popover), "Talverin");
    gtk_window_set_decorated(GTK_WINDOW(m_popover), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(m_popover), FALSE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(m_popover), TRUE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(m_popover), TRUE);
    // A dialog, not a menu: window managers give a dialog the keyboard focus, and the page's
    // search and word fields need it.
    gtk_window_set_type_hint(GTK_WINDOW(m_popover), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_keep_above(GTK_WINDOW(m_popover), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(m_popover), popoverWidth, popoverHeight);
    gtk_widget_add_events(m_popover, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(m_popover, "key-press-event", G_CALLBACK(Callbacks::keyPress), this);
    g_signal_connect(m_popover, "focus-out-event", G_CALLBACK(Callbacks::popoverFocusOut), this);
    g_signal_connect(m_popover, "focus-in-event", G_CALLBACK(Callbacks::focusIn), this);
    g_signal_connect(m_popover, "button-press-event", G_CALLBACK(Callbacks::popoverPress), this);
    g_signal_connect(m_popover, "map-event", G_CALLBACK(Callbacks::popoverMapped), this);
    g_signal_connect(m_popover, "grab-broken-event", G_CALLBACK(Callbacks::popoverGrabBroken),
                     this);
    g_signal_connect(m_popover, "delete-event", G_CALLBACK(Callbacks::popoverDelete), this);
}

bool ShellWindowsGtk::isPopoverShown() const { return m_popoverOpen; }

void ShellWindowsGtk::activate(int x, int y) {
    if (isPopoverShown()) {
        closePopover();
        return;
    }
    if (m_focusLostAt && Clock::uptime() - *m_focusLostAt < reopenGuard)
        return;
    showPopoverAt(std::make_pair(x, y));
}

void ShellWindowsGtk::showPopover() { showPopoverAt(std::nullopt); }

void ShellWindowsGtk::showPopoverAt(std::optional<std::pair<int, int>> point) {
    if (!m_popover || isPopoverShown())
        return;
    if (onPopoverWillShow)
        onPopoverWillShow();
    if (!m_popoverPage) {
        m_popoverPage = m_makePage(*m_bridge, {"popover", Bridge::ViewRole::main, popoverWidth,
                                               popoverHeight, m_bridge->settings().theme});
        GtkWidget* view = m_popoverPage->view();
        gtk_container_add(GTK_CONTAINER(m_popover), view);
        gtk_widget_show(view);
    }
    GdkDisplay* display = gdk_display_get_default();
    int x = 0, y = 0;
    if (point) {
        std::tie(x, y) = *point;
    } else {
        GdkSeat* seat = gdk_display_get_default_seat(display);
        gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &x, &y);
    }
    // Under the point, kept inside the work area of the monitor it is on.
    GdkRectangle area{0, 0, 0, 0};
    if (GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, x, y))
        gdk_monitor_get_workarea(monitor, &area);
    int left = x - popoverWidth / 2;
    int top = y;
    if (area.width > 0) {
        left = std::clamp(left, area.x, std::max(area.x, area.x + area.width - popoverWidth));
        top = std::clamp(top, area.y, std::max(area.y, area.y + area.height - popoverHeight));
    }
    gtk_window_move(GTK_WINDOW(m_popover), left, top);
    m_popoverOpen = true;
    m_focusedInShowing = false;
    const std::uint64_t showing = ++m_showing;
    m_bridge->send(Wire::Event::shown(), Bridge::ViewRole::main);
    if (onScreenChange)
        onScreenChange();
    // The first showing maps the window once the page has loaded, bounded; later ones at once.
    m_popoverPage->whenLoaded([this, showing] { mapPopover(showing); });
    MainQueue::after(firstPageWait, [this, showing, alive = std::weak_ptr<int>(m_alive)] {
        if (!alive.expired())
            mapPopover(showing);
    });
}

void ShellWindowsGtk::mapPopover(std::uint64_t showing) {
    if (!m_popoverOpen || showing != m_showing || gtk_widget_get_mapped(m_popover))
        return;
    gtk_widget_show(m_popover);
    // A request from another program (the panel, a second launch) carries no event time of
    // ours; the server's time lets a window manager give us the focus.
    GdkWindow* window = gtk_widget_get_window(m_popover);
    gtk_window_present_with_time(GTK_WINDOW(m_popover),
                                 window ? gdk_x11_get_server_time(window) : GDK_CURRENT_TIME);
}

void ShellWindowsGtk::grabPointer(std::uint64_t showing, int triesLeft) {
    if (!m_popoverOpen || showing != m_showing || m_grabbed || !gtk_widget_get_mapped(m_popover))
        return;
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(m_popover));
    const GdkGrabStatus status =
        gdk_seat_grab(seat, gtk_widget_get_window(m_popover), GDK_SEAT_CAPABILITY_ALL_POINTING,
                      TRUE, nullptr, nullptr, nullptr, nullptr);
    if (status == GDK_GRAB_SUCCESS) {
        m_grabbed = true;
        return;
    }
    if (triesLeft <= 0)
        return;
    MainQueue::after(grabRetryInterval,
                     [this, showing, triesLeft, alive = std::weak_ptr<int>(m_alive)] {
                         if (!alive.expired())
                             grabPointer(showing, triesLeft - 1);
                     });
}

void ShellWindowsGtk::ungrabPointer() {
    if (!m_grabbed)
        return;
    m_grabbed = false;
    gdk_seat_ungrab(gdk_display_get_default_seat(gtk_widget_get_display(m_popover)));
}

GtkWidget* ShellWindowsGtk::focusedWindow() const {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display))
        return nullptr;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(GDK_DISPLAY_XDISPLAY(display), &focus, &revert);
    return windowOwning(focus);
}

GtkWidget* ShellWindowsGtk::windowOwning(unsigned long focus) const {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display))
        return nullptr;
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    // The focus may sit on a child of a toplevel: walk up to a window of ours.
    for (Window w = focus; w != None && w != PointerRoot;) {
        for (GtkWidget* ours : {m_popover, m_onboarding}) {
            GdkWindow* gdk = ours ? gtk_widget_get_window(ours) : nullptr;
            if (gdk && gdk_x11_window_get_xid(gdk) == w)
                return ours;
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(x, w, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == root)
            break;
        w = parent;
    }
    return nullptr;
}

void ShellWindowsGtk::learningChanged() {
    if (m_statusItem)
        m_statusItem->learningChanged();
}

void ShellWindowsGtk::openLog() {
    // The log is the shell's own file, not a page's link: its failure is the shell's line.
    const std::string uri = "file://" + (Paths::appStateDir() / "Talverin.log").string();
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error))
        return;
    tlLog(std::string("Status menu: the log could not be opened (") +
          (error ? error->message : "no program for it") + ")");
    g_clear_error(&error);
}

bool ShellWindowsGtk::hasFocus() const { return focusedWindow() != nullptr; }

void ShellWindowsGtk::popoverLostFocus() {
    if (!isPopoverShown() || !gtk_widget_get_mapped(m_popover) || !m_focusedInShowing)
        return;
    // GTK reports a focus-out also while the focus is being handed to the popover (a server
    // without a window manager, where the focus follows the pointer until it is set) and when
    // it goes nowhere; only another window that holds it now is a real move. One answer of
    // the server decides: the window manager may be moving the focus meanwhile.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(m_popover)), &focus, &revert);
    if (focus == None || focus == PointerRoot || windowOwning(focus) == m_popover)
        return;
    m_focusLostAt = Clock::uptime();
    closePopover();
}

void ShellWindowsGtk::pressedOutside() {
    m_focusLostAt = Clock::uptime();
    closePopover();
}

void ShellWindowsGtk::closePopover() {
    if (!isPopoverShown())
        return;
    m_popoverOpen = false;
    ungrabPointer();
    gtk_widget_hide(m_popover);
    m_bridge->send(Wire::Event::hidden(), Bridge::ViewRole::main);
    if (onScreenChange)
        onScreenChange();
}

void ShellWindowsGtk::showOnboarding(std::optional<int> step, bool takeFocus) {
    if (!m_onboarding) {
        const std::string route =
            step ? "onboarding?step=" + std::to_string(*step) : std::string("onboarding");
        m_onboardingPage = m_makePage(*m_bridge, {route, Bridge::ViewRole::onboarding,
                                                  onboardingWidth, onboardingHeight,
                                                  m_bridge->settings().theme});
        m_onboarding = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(m_onboarding), "Talverin");
        gtk_window_set_default_size(GTK_WINDOW(m_onboarding), onboardingWidth, onboardingHeight);
        GdkGeometry minimum{};
        minimum.min_width = onboardingMinWidth;
        minimum.min_height = onboardingMinHeight;
        gtk_window_set_geometry_hints(GTK_WINDOW(m_onboarding), nullptr, &minimum,
                                      GDK_HINT_MIN_SIZE);
        gtk_window_set_position(GTK_WINDOW(m_onboarding), GTK_WIN_POS_CENTER);
        gtk_container_add(GTK_CONTAINER(m_onboarding), m_onboardingPage->view());
        g_signal_connect(m_onboarding, "key-press-event", G_CALLBACK(Callbacks::keyPress), this);
        g_signal_connect(m_onboarding, "focus-in-event", G_CALLBACK(Callbacks::focusIn), this);
        g_signal_connect(m_onboarding, "delete-event", G_CALLBACK(Callbacks::onboardingDelete),
                         this);
        g_signal_connect(m_onboarding, "window-state-event",
                         G_CALLBACK(Callbacks::onboardingState), this);
        g_signal_connect(m_onboarding, "visibility-notify-event",
                         G_CALLBACK(Callbacks::onboardingVisibility), this);
        gtk_widget_add_events(m_onboarding, GDK_VISIBILITY_NOTIFY_MASK);
        m_onboardingIconified = false;
        m_onboardingObscured = false;
        tlLog("Onboarding: opened");
    }
    // Brought to the front in both cases, and back from the task bar when it was minimised;
    // only with focus does it take the keyboard from the application in front.
    gtk_window_set_focus_on_map(GTK_WINDOW(m_onboarding), takeFocus);
    gtk_widget_show_all(m_onboarding);
    gtk_window_deiconify(GTK_WINDOW(m_onboarding));
    GdkWindow* window = gtk_widget_get_window(m_onboarding);
    if (takeFocus)
        gtk_window_present_with_time(GTK_WINDOW(m_onboarding),
                                     window ? gdk_x11_get_server_time(window) : GDK_CURRENT_TIME);
    else if (window)
        gdk_window_raise(window);
}

bool ShellWindowsGtk::onboardingOnScreen() const {
    return m_onboarding && gtk_widget_get_visible(m_onboarding) && !m_onboardingIconified &&
           !m_onboardingObscured;
}

bool ShellWindowsGtk::onboardingIsKey() const {
    // GTK's active window is the toplevel that has the X input focus, which only the
    // application in front holds.
    return m_onboarding && gtk_window_is_active(GTK_WINDOW(m_onboarding));
}

void ShellWindowsGtk::closeOnboarding() {
    if (m_onboarding)
        onboardingClosed();
}

void ShellWindowsGtk::onboardingClosed() {
    m_bridge->detach(Bridge::ViewRole::onboarding);
    GtkWidget* window = m_onboarding;
    m_onboarding = nullptr;
    gtk_widget_destroy(window);
    m_onboardingPage.reset();
    tlLog("Onboarding: closed");
    if (onScreenChange)
        onScreenChange();
}

StatusItemSni::Pixmap ShellWindowsGtk::pixmapOf(const MenuBarIcon::Image& image,
                                                MenuBarIcon::Tint tint) {
    const int size = statusIconPixels;
    const std::vector<std::uint32_t> pixels = image.render(size, tint);
    if (pixels.empty())
        return {};
    StatusItemSni::Pixmap icon{size, size, std::vector<std::uint8_t>(pixels.size() * 4)};
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t pixel = pixels[i];
        const std::uint32_t alpha = pixel >> 24;
        // Cairo's pixels are premultiplied; the panels take straight alpha.
        auto channel = [&](int shift) -> std::uint8_t {
            const std::uint32_t value = (pixel >> shift) & 0xFF;
            return alpha == 0 ? 0 : static_cast<std::uint8_t>(std::min<std::uint32_t>(
                                        255, (value * 255 + alpha / 2) / alpha));
        };
        std::uint8_t* p = &icon.argb[i * 4];
        p[0] = static_cast<std::uint8_t>(alpha); // alpha first: network byte order
        p[1] = channel(16);
        p[2] = channel(8);
        p[3] = channel(0);
    }
    return icon;
}

void ShellWindowsGtk::setStatusIcon(const MenuBarIcon::Image& image) {
    if (!m_statusItem)
        return;
    auto icon = pixmapOf(image, themeTint());
    if (!icon.argb.empty())
        m_statusItem->setIcon(std::move(icon));
}

void ShellWindowsGtk::setTheme(ThemeSetting theme) {
    // A page not built yet takes the theme of the settings when it is.
    if (m_popoverPage)
        m_popoverPage->setTheme(theme);
}

bool ShellWindowsGtk::keyPressed(GtkWidget* window, GdkEventKey* event) {
    if (window == m_popover && event->keyval == GDK_KEY_Escape) {
        closePopover();
        return true;
    }
    const auto answer = EditKey::of(charactersOf(event), event->hardware_keycode,
                                    modifiersOf(event->state));
    if (answer.passThrough)
        return false;
    if (answer.quits()) {
        if (onQuit)
            onQuit();
        return true;
    }
    Page* page = window == m_popover ? m_popoverPage.get() : m_onboardingPage.get();
    if (page)
        page->edit(*answer.action);
    return true;
}

} // namespace talverin
