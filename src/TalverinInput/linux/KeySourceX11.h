#pragma once

#include "Runtime/SyntheticInput.h"
#include "TalverinCore/HoldKey.h"
#include "TalverinInput/KeySource.h"
#include "TalverinInput/linux/KeyTranslatorX11.h"

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>

struct _XDisplay;

namespace talverin {

// The key source of one tap session on X11: its own X connection, XInput2 raw key presses,
// key releases and button presses selected on the root window for all master devices. Raw
// events reach every client that asks, whatever grabs others hold, and never delay the user.
//
// Raw events carry keycodes and no modifier state; KeyTranslatorX11 turns them into key events
// of the hold-key logic. The probe reads the server's key map. An event of an XTEST device is
// the program's own only when it matches a key event the program's poster announced.
//
// A lost connection (the X server went away) is reported once as connectionLost instead of
// ending the process, as Xlib would by default.
class KeySourceX11 final : public KeySource {
public:
    // `display` names the X display; empty means $DISPLAY. `synthetic` may be null.
    explicit KeySourceX11(std::shared_ptr<SyntheticInput> synthetic, std::string display = {});
    ~KeySourceX11() override;
    KeySourceX11(const KeySourceX11&) = delete;
    KeySourceX11& operator=(const KeySourceX11&) = delete;

    // fn produces no X event on any keyboard; every other hold key does.
    static bool canSee(HoldKey key) { return key != HoldKey::fn; }
    // The X keycode of a hold-key code, or -1.
    static int xKeycodeOf(std::int64_t keyCode);

    Result<void, KeySourceError> open() override;
    void close() override;
    void wait(double timeout) override;
    void wake() override;
    void drain(const std::function<void(const TapEvent&)>& deliver) override;
    bool isKeyDown(std::int64_t keyCode) override;
    // XInput2 selections are never switched off by the server: nothing to do.
    void enable() override {}

    // Called by Xlib when the connection breaks.
    void connectionBroke() { m_lost = true; }

private:
    void findSyntheticDevices();
    std::optional<TapEvent> translate(int evtype, int sourceDevice, int detail,
                                      unsigned long serverTime);

    std::shared_ptr<SyntheticInput> m_synthetic;
    std::optional<SyntheticInput::Reader> m_ownKeys;
    std::string m_displayName;
    _XDisplay* m_display = nullptr;
    int m_xinputOpcode = 0;
    int m_wakeFd = -1;
    // Why the wake-up channel could not be made.
    std::string m_wakeError;
    std::atomic<bool> m_lost{false};
    bool m_reportedLost = false;
    std::set<int> m_syntheticDevices;
    KeyTranslatorX11 m_translator;
};

} // namespace talverin
