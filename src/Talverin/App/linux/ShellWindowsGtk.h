#pragma once

#include "Talverin/App/EditKey.h"
#include "Talverin/App/ShellWindows.h"
#include "Talverin/App/linux/StatusItemSni.h"

#include <functional>
#include <memory>
#include <string>
#include <optional>

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkEventKey GdkEventKey;

namespace talverin {

class DefaultsStore;
class UrlOpening;

// The shell's windows on GTK 3 under X11: the status item on the session bus, the popover (an
// undecorated window with the main page, placed under the click point or the pointer, closed
// when it loses the focus or on Escape) and the onboarding window (a normal window with its
// own page). Both windows run the edit shortcuts and the quit shortcut. Main thread.
class ShellWindowsGtk final : public ShellWindows {
public:
    // A click on the icon this soon after a close by focus loss was the click that took the
    // focus away: it does not open the popover again.
    static constexpr double reopenGuard = 0.3;
    static constexpr int popoverWidth = 400;
    static constexpr int popoverHeight = 620;
    static constexpr int onboardingWidth = 880;
    static constexpr int onboardingHeight = 620;
    static constexpr int onboardingMinWidth = 760;
    static constexpr int onboardingMinHeight = 560;

    // What a window shows: one page of the local web application.
    class Page {
    public:
        virtual ~Page() = default;
        virtual GtkWidget* view() = 0;
        virtual void setTheme(ThemeSetting theme) = 0;
        virtual void edit(EditAction action) = 0;
    };
    struct PageOptions {
        std::string route;
        Bridge::ViewRole role;
        int width;
        int height;
        ThemeSetting theme;
    };
    using PageMaker = std::function<std::unique_ptr<Page>(Bridge&, const PageOptions&)>;
    // The pages in WebKit views.
    static PageMaker webPages(std::shared_ptr<UrlOpening> opener, const DefaultsStore& defaults);

    // `bus` is the session bus for the status item, null for none.
    ShellWindowsGtk(GDBusConnection* bus, PageMaker makePage, std::shared_ptr<UrlOpening> opener);
    ~ShellWindowsGtk() override;

    std::optional<std::string> unavailableReason() const override { return std::nullopt; }
    void install(Bridge& bridge) override;
    bool isPopoverShown() const override;
    void showPopover() override;
    void closePopover() override;
    bool hasOnboarding() const override { return m_onboarding != nullptr; }
    bool onboardingOnScreen() const override;
    bool onboardingIsKey() const override;
    void showOnboarding(std::optional<int> step, bool takeFocus) override;
    void closeOnboarding() override;
    void setTheme(ThemeSetting theme) override;
    void setStatusIcon(const MenuBarIcon::Image& image) override;
    // The size of the status item's icon, in pixels a side.
    static constexpr int statusIconPixels = 22;
    // One frame as the status item sends it: straight alpha, in the colour of the theme.
    static StatusItemSni::Pixmap pixmapOf(const MenuBarIcon::Image& image, MenuBarIcon::Tint tint);

    // Whether losing the keyboard focus closes the popover, as a click elsewhere should. An X
    // server without a window manager takes the focus away as soon as it is given, so tests
    // on a bare server turn it off.
    enum class FocusLoss { closes, ignored };
    FocusLoss focusLoss = FocusLoss::closes;

    StatusItemSni* statusItem() { return m_statusItem.get(); }
    GtkWidget* popoverWidget() const { return m_popover; }

    struct Callbacks;

private:
    void activate(int x, int y);
    void showPopoverAt(std::optional<std::pair<int, int>> point);
    // Answers whether the key was taken.
    bool keyPressed(GtkWidget* window, GdkEventKey* event);
    void onboardingClosed();

    GDBusConnection* m_bus;
    PageMaker m_makePage;
    std::shared_ptr<UrlOpening> m_opener;
    Bridge* m_bridge = nullptr;
    std::unique_ptr<StatusItemSni> m_statusItem;
    std::unique_ptr<Page> m_popoverPage;
    GtkWidget* m_popover = nullptr;
    std::unique_ptr<Page> m_onboardingPage;
    GtkWidget* m_onboarding = nullptr;
    bool m_onboardingIconified = false;
    // Other windows cover all of it.
    bool m_onboardingObscured = false;
    // When the popover last closed because it lost the focus (uptime).
    std::optional<double> m_focusLostAt;
};

} // namespace talverin
