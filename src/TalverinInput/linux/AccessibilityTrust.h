#pragma once

#include "TalverinInput/AccessibilityStatusReading.h"

#include <atomic>
#include <memory>
#include <string>

namespace talverin {

// Whether the program may listen to the keyboard and read other applications' fields: the
// accessibility bus is switched on (org.a11y.Status.IsEnabled, which the desktop keeps in its
// settings) and the X server offers XInput 2.1, whose raw events the key tap hears. This one
// answer is both the key tap's trust check and the Accessibility permission.
class AccessibilityTrust {
public:
    // `display` empty means $DISPLAY.
    explicit AccessibilityTrust(std::shared_ptr<AccessibilityStatusReading> status,
                                std::string display = {});
    AccessibilityTrust(const AccessibilityTrust&) = delete;
    AccessibilityTrust& operator=(const AccessibilityTrust&) = delete;

    // Any thread. Never waits for the accessibility bus: it reads the status the watcher keeps.
    bool isGranted();
    // Main thread; never waits. Has the watcher read the bus's status again.
    void refresh();
    // Any thread but the main one. Switches the accessibility bus on; the failure says whether
    // there is no bus or it did not take it.
    AccessibilityStatusReading::Enabling requestEnable();

    bool hasXInput();
    bool isBusEnabled() const;

private:
    const std::shared_ptr<AccessibilityStatusReading> m_status;
    const std::string m_display;
    // Once the server has offered XInput 2.1 it keeps offering it.
    std::atomic<bool> m_hasXInput{false};
};

} // namespace talverin
