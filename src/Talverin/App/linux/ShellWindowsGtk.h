#pragma once

#include "Talverin/App/EditKey.h"
#include "Talverin/App/ShellWindows.h"
#include "Talverin/App/linux/StatusItemSni.h"

#include <cstdint>
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
// by a press outside it, by the focus moving to another window, or on Escape) and the
// onboarding window (a normal window with its own page). The popover's page is built when the
// popover first shows and kept from then on. Both windows run the edit shortcuts and the quit
// shortcut. Main thread.
class ShellWindowsGtk final : public ShellWindows {
public:
    // A click on the icon this soon after a close by a press outside or a focus loss was the
    // click that closed it: it does not open the popover again.
    static constexpr double reopenGuard = 0.3;
    // The first showing waits for its page to load, so that the window never shows an empty
    // background; a page that takes longer than this is shown loading.
    static constexpr double firstPageWait = 1.5;
    // The pointer grab that sees a press outside may be refused while another client still
    // holds the pointer (the panel whose click opened us); it is asked again this often, this
    // many times.
    static constexpr double grabRetryInterval = 0.05;
    static constexpr int grabRetries = 40;
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
        // Calls `ready` once the page has loaded: at once when it has.
        virtual void whenLoaded(std::function<void()> ready) { ready(); }
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
    bool hasFocus() const override;
    void learningChanged() override;
    // The size of the status item's icon, in pixels a side.
    static constexpr int statusIconPixels = 22;
    // One frame as the status item sends it: straight alpha, in the colour of the theme.
    static StatusItemSni::Pixmap pixmapOf(const MenuBarIcon::Image& image, MenuBarIcon::Tint tint);

    StatusItemSni* statusItem() { return m_statusItem.get(); }
    GtkWidget* popoverWidget() const { return m_popover; }
    GtkWidget* onboardingWidget() const { return m_onboarding; }
    // The popover's page, once it was first shown.
    Page* popoverPage() const { return m_popoverPage.get(); }

    struct Callbacks;

private:
    void activate(int x, int y);
    void showPopoverAt(std::optional<std::pair<int, int>> point);
    // Maps the popover once its page is ready (or the wait is over) and it is still wanted.
    void mapPopover(std::uint64_t showing);
    void grabPointer(std::uint64_t showing, int triesLeft);
    void ungrabPointer();
    // The focus left the popover; it closes only when another window really has it now.
    void popoverLostFocus();
    // A press outside the popover, seen through the pointer grab.
    void pressedOutside();
    // Which of our windows holds the X input focus now, by asking the server: null for none.
    GtkWidget* focusedWindow() const;
    // Which of our windows is the focus window or holds it; null for none.
    GtkWidget* windowOwning(unsigned long focus) const;
    // Answers whether the key was taken.
    bool keyPressed(GtkWidget* window, GdkEventKey* event);
    void onboardingClosed();
    void openLog();

    GDBusConnection* m_bus;
    PageMaker m_makePage;
    std::shared_ptr<UrlOpening> m_opener;
    Bridge* m_bridge = nullptr;
    std::unique_ptr<StatusItemSni> m_statusItem;
    std::unique_ptr<Page> m_popoverPage;
    GtkWidget* m_popover = nullptr;
    // The popover is open for the user: mapped, or waiting for its page to be mapped.
    bool m_popoverOpen = false;
    // Counts the showings; a late page load or grab retry acts only for the showing it was for.
    std::uint64_t m_showing = 0;
    bool m_grabbed = false;
    // The popover has had the focus in this showing. A focus-out before that belongs to an
    // earlier showing: the window manager takes the focus from a closed popover late, and the
    // popover may already be open again when that is reported.
    bool m_focusedInShowing = false;
    std::unique_ptr<Page> m_onboardingPage;
    GtkWidget* m_onboarding = nullptr;
    bool m_onboardingIconified = false;
    // Other windows cover all of it.
    bool m_onboardingObscured = false;
    // When the popover last closed by a press outside or a focus loss (uptime).
    std::optional<double> m_focusLostAt;
    // Delayed work holds this weakly: windows that are gone do nothing.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace talverin
