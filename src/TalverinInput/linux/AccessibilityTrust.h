#pragma once

#include <atomic>
#include <mutex>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace talverin {

// Whether the program may listen to the keyboard and read other applications' fields: the
// accessibility bus is switched on (org.a11y.Status.IsEnabled, which the desktop keeps in its
// settings) and the X server offers XInput 2.1, whose raw events the key tap hears. This one
// answer is both the key tap's trust check and the Accessibility permission.
class AccessibilityTrust {
public:
    // How long one question to the accessibility bus may take.
    static constexpr int busTimeoutMillis = 1000;

    // `display` empty means $DISPLAY; `busAddress` empty means the session bus.
    explicit AccessibilityTrust(std::string display = {}, std::string busAddress = {});
    ~AccessibilityTrust();
    AccessibilityTrust(const AccessibilityTrust&) = delete;
    AccessibilityTrust& operator=(const AccessibilityTrust&) = delete;

    // Any thread.
    bool isGranted();
    // Any thread. Switches the accessibility bus on; true when the bus took it.
    bool requestEnable();

    bool hasXInput();
    bool isBusEnabled();

private:
    GDBusConnection* connection();

    const std::string m_display;
    const std::string m_busAddress;
    // Once the server has offered XInput 2.1 it keeps offering it.
    std::atomic<bool> m_hasXInput{false};
    std::mutex m_mutex;
    GDBusConnection* m_connection = nullptr;
};

} // namespace talverin
