#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;

namespace talverin {

// The status item as the desktops' panels show it: an org.kde.StatusNotifierItem with a
// com.canonical.dbusmenu menu, exported on the session bus and registered with the
// StatusNotifierWatcher, again whenever a watcher appears. Where no watcher runs (stock GNOME)
// it says so once; the application stays usable through the pill's menu and a reopen.
// Main thread, which runs GLib's default main context.
class StatusItemSni final {
public:
    // One frame of the icon: ARGB32 pixels, row by row, each pixel in network byte order.
    struct Pixmap {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> argb;
    };
    // The menu's texts, in the user's language.
    struct Texts {
        std::string learning;
        std::string onboarding;
        std::string log;
        std::string quit;
    };
    // The ids of the menu's items, as dbusmenu events name them.
    enum MenuItem : std::int32_t { learning = 1, onboarding = 2, log = 3, separator = 4, quit = 5 };

    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* menuPath = "/MenuBar";

    // `bus` is the session bus, or a test's.
    StatusItemSni(GDBusConnection* bus, Texts texts);
    ~StatusItemSni();
    StatusItemSni(const StatusItemSni&) = delete;
    StatusItemSni& operator=(const StatusItemSni&) = delete;

    // The item's well-known name on the bus.
    const std::string& busName() const { return m_busName; }
    // Whether a watcher has taken the item.
    bool isRegistered() const { return m_registered; }
    // Replaces the icon and tells the panel (NewIcon).
    void setIcon(Pixmap pixmap);
    // The learning setting may have changed, from the menu or from anywhere else: reads the
    // check mark again and, when it changed, tells a host that caches the menu (a new layout
    // revision, LayoutUpdated and ItemsPropertiesUpdated).
    void learningChanged();

    // A left click, with the click point in screen coordinates.
    std::function<void(int x, int y)> onActivate;
    // A host that ignores the menu asks for it at the click point.
    std::function<void(int x, int y)> onContextMenu;
    // The learning item's check mark, read whenever the menu is about to show.
    std::function<bool()> learningIsOn = [] { return true; };
    // The menu's items.
    std::function<void()> onToggleLearning;
    std::function<void()> onOpenOnboarding;
    std::function<void()> onOpenLog;
    std::function<void()> onQuit;

    struct Callbacks;

private:
    void registerWithWatcher();
    void watcherAppeared();
    void watcherVanished();
    void menuClicked(std::int32_t id);
    void emit(const char* path, const char* interface, const char* signal, void* parameters);

    GDBusConnection* m_bus;
    Texts m_texts;
    std::string m_busName;
    Pixmap m_icon;
    unsigned m_itemRegistration = 0;
    unsigned m_menuRegistration = 0;
    unsigned m_nameOwner = 0;
    unsigned m_watcherWatch = 0;
    bool m_registered = false;
    bool m_saidNoWatcher = false;
    std::uint32_t m_revision = 1;
    bool m_shownLearning = true;
};

} // namespace talverin
