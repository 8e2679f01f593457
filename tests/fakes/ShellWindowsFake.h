#pragma once

#include "Talverin/App/ShellWindows.h"
#include "fakes/CallLog.h"

#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// Windows that record what the shell asks of them: "showOnboarding" with "step=4 focus" or
// "step=first nofocus", "showPopover", "closePopover", "setTheme dark" ...; the popover and
// the onboarding window stay as the calls leave them, and `onScreenChange` hears every change
// of what is on screen.
class ShellWindowsFake final : public ShellWindows {
public:
    CallLog log;

    std::optional<std::string> unavailableReason() const override { return std::nullopt; }
    void install(Bridge&) override { log.record("install"); }
    bool isPopoverShown() const override { return m_popover; }
    void showPopover() override {
        log.record("showPopover");
        if (!m_popover && onPopoverWillShow)
            onPopoverWillShow();
        m_popover = true;
        screenChanged();
    }
    void closePopover() override {
        log.record("closePopover");
        m_popover = false;
        screenChanged();
    }
    bool hasOnboarding() const override { return m_onboarding; }
    bool onboardingOnScreen() const override { return m_onboarding && !m_minimised; }
    bool onboardingIsKey() const override { return m_onboarding && m_onboardingKey; }
    void showOnboarding(std::optional<int> step, bool takeFocus) override {
        log.record("showOnboarding", std::string("step=") +
                                         (step ? std::to_string(*step) : std::string("first")) +
                                         (takeFocus ? " focus" : " nofocus"));
        m_onboarding = true;
        m_minimised = false;
        if (takeFocus)
            m_onboardingKey = true;
        screenChanged();
    }
    void closeOnboarding() override {
        log.record("closeOnboarding");
        m_onboarding = false;
        screenChanged();
    }
    // The user clicks into another application's window, or back into the onboarding window.
    void focusOnboarding(bool key) { m_onboardingKey = key; }
    // The user minimises the onboarding window or brings it back.
    void minimiseOnboarding(bool minimised) {
        m_minimised = minimised;
        screenChanged();
    }
    void setTheme(ThemeSetting theme) override {
        log.record("setTheme", std::string(toString(theme)));
    }
    // Kept apart from the log: a dictation sends many.
    void setStatusIcon(const MenuBarIcon::Image& image) override { statusIcons.push_back(image); }

    bool hasFocus() const override { return focused; }
    void learningChanged() override { log.record("learningChanged"); }

    std::vector<MenuBarIcon::Image> statusIcons;
    // One of the windows holds the keyboard focus.
    bool focused = false;

private:
    void screenChanged() {
        if (onScreenChange)
            onScreenChange();
    }

    bool m_popover = false;
    bool m_minimised = false;
    bool m_onboarding = false;
    bool m_onboardingKey = false;
};

} // namespace talverin::test
