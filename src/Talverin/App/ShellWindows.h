#pragma once

#include "Talverin/App/MenuBarIcon.h"
#include "Talverin/Web/Bridge.h"
#include "TalverinCore/ThemeSetting.h"

#include <functional>
#include <optional>
#include <string>

namespace talverin {

// The shell's windows: the status item with its menu, the popover with the main page, and the
// onboarding window with its own page. Every member is used on the main thread and every
// callback arrives there.
class ShellWindows {
public:
    virtual ~ShellWindows() = default;

    // Main thread. Why no window can be shown (no display); none when they can.
    virtual std::optional<std::string> unavailableReason() const = 0;
    // Main thread. Puts up the status item and loads the popover's page over the bridge; the
    // page starts loading now, before the first click.
    virtual void install(Bridge& bridge) = 0;
    // Main thread. False while no popover can be shown.
    virtual bool isPopoverShown() const = 0;
    virtual void showPopover() = 0;
    virtual void closePopover() = 0;
    // Main thread. The onboarding window exists (it may be minimised).
    virtual bool hasOnboarding() const = 0;
    // Main thread. The onboarding window is on screen: shown and not minimised.
    virtual bool onboardingOnScreen() const = 0;
    // Main thread. The onboarding window takes the keys: this application is the active one
    // and that window has its keyboard focus.
    virtual bool onboardingIsKey() const = 0;
    // Main thread. Opens the onboarding at a step (none: its first), or brings an open one
    // forward without changing its step; with focus it is raised above other applications.
    virtual void showOnboarding(std::optional<int> step, bool takeFocus) = 0;
    virtual void closeOnboarding() = 0;
    // Main thread. The popover's page follows a new theme.
    virtual void setTheme(ThemeSetting theme) = 0;
    // Main thread. The status item shows a new frame of its glyph.
    virtual void setStatusIcon(const MenuBarIcon::Image& image) = 0;
    // Main thread. The learning setting may have changed: the status menu's mark follows.
    virtual void learningChanged() = 0;
    // Main thread. One of these windows holds the keyboard focus now, as the display server
    // says (not as its last event said).
    virtual bool hasFocus() const = 0;

    // Main thread: the menu's quit item or the quit shortcut.
    std::function<void()> onQuit;
    // Main thread: the menu's learning item; answers whether learning is on now, for its mark.
    std::function<void()> onToggleLearning;
    std::function<bool()> learningIsOn;
    // Main thread: the menu's onboarding and log items.
    std::function<void()> onOpenOnboarding;
    std::function<void()> onOpenLog;
    // Main thread: the popover is about to show; the application in front is still in front.
    std::function<void()> onPopoverWillShow;
    // Main thread: one of the windows took the keyboard focus.
    std::function<void()> onActivated;
    // Main thread: the popover was shown or closed, or the onboarding window was shown,
    // hidden, minimised or closed.
    std::function<void()> onScreenChange;
};

// The windows of a session without a display: nothing is shown, and the shell keeps running
// on the key tap alone where it can.
class ShellWindowsNull final : public ShellWindows {
public:
    explicit ShellWindowsNull(std::string reason) : m_reason(std::move(reason)) {}

    std::optional<std::string> unavailableReason() const override { return m_reason; }
    void install(Bridge&) override {}
    bool isPopoverShown() const override { return false; }
    void showPopover() override {}
    void closePopover() override {}
    bool hasOnboarding() const override { return false; }
    bool onboardingOnScreen() const override { return false; }
    bool onboardingIsKey() const override { return false; }
    void showOnboarding(std::optional<int>, bool) override {}
    void closeOnboarding() override {}
    void setTheme(ThemeSetting) override {}
    void setStatusIcon(const MenuBarIcon::Image&) override {}
    bool hasFocus() const override { return false; }
    void learningChanged() override {}

private:
    std::string m_reason;
};

} // namespace talverin
