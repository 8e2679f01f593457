#pragma once

#include "Talverin/App/FrontApplications.h"

#include <memory>

struct _XDisplay;

namespace talverin {

// The front application as the window manager names it (_NET_ACTIVE_WINDOW, _NET_WM_PID) on
// a connection of its own to the X server; an activation asks the window manager for the
// window with a _NET_ACTIVE_WINDOW message. Main thread.
class FrontApplicationsX11 final : public FrontApplications {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<FrontApplicationsX11> open(const char* displayName = nullptr);
    ~FrontApplicationsX11() override;
    FrontApplicationsX11(const FrontApplicationsX11&) = delete;
    FrontApplicationsX11& operator=(const FrontApplicationsX11&) = delete;

    std::optional<std::string> unavailableReason() const override { return std::nullopt; }
    std::optional<RunningApp> frontmost() override;
    void activate(const RunningApp& app) override;
    bool hasTerminated(const RunningApp& app) override;

private:
    explicit FrontApplicationsX11(_XDisplay* display) : m_display(display) {}
    _XDisplay* m_display;
};

} // namespace talverin
