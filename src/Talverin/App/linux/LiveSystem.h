#pragma once

#include "Runtime/DefaultsStore.h"
#include "Talverin/App/BackendChoice.h"
#include "Talverin/App/LiveServices.h"

#include <memory>
#include <vector>

namespace talverin {

class AccessibilityBackend;
class AccessibilityStatusReading;
class AccessibilityTrust;
class AudioSystem;
class Inserter;
class PillPanel;
class KeyPosting;
class NotificationCenter;
class PasteboardAccessing;
class PasteKeyResolver;
class SecureInput;
class SerialQueue;
class SleepWatching;
class SpeechRecognizers;
class SyntheticInput;

// The composition root on Linux: finds out once what the desktop offers (an X display, a
// session bus, a sound server, the speech model), picks each service's real backend or its
// seam's Null backend with the reason, logs every choice, and makes the live parts over them.
// It owns what several services share (the accessibility status and trust, the notification
// centres, the synthetic-input marker, the sound system) for the life of the process.
//
// Main thread, which runs GLib's default main context.
class LiveSystem {
public:
    // Probes the desktop as it is now.
    static Facilities probe();

    // `workspace` hears sleep, session and lock notices; `app` hears the shell's windows take
    // the focus.
    LiveSystem(Facilities facilities, std::shared_ptr<DefaultsStore> defaults,
               std::shared_ptr<NotificationCenter> workspace,
               std::shared_ptr<NotificationCenter> app);
    ~LiveSystem();
    LiveSystem(const LiveSystem&) = delete;
    LiveSystem& operator=(const LiveSystem&) = delete;

    const std::vector<BackendChoice>& choices() const { return m_choices; }
    // Writes one line per choice through the core log.
    void logChoices() const;
    // The makers over the chosen backends, for LiveServices::live.
    LiveParts parts();

    const std::shared_ptr<SleepWatching>& sleepWatcher() const { return m_sleep; }
    // The inserter's last step at termination: a pending clipboard restore runs at once and a
    // clipboard we own goes to the clipboard manager.
    void quitInserter();

private:
    bool isReal(LiveService service) const;

    Facilities m_facilities;
    std::vector<BackendChoice> m_choices;
    std::shared_ptr<DefaultsStore> m_defaults;
    std::shared_ptr<NotificationCenter> m_accessibilityCenter;
    std::shared_ptr<NotificationCenter> m_app;
    std::shared_ptr<NotificationCenter> m_workspace;
    std::shared_ptr<SyntheticInput> m_synthetic;
    std::shared_ptr<AccessibilityStatusReading> m_status;
    std::shared_ptr<AccessibilityTrust> m_trust;
    std::shared_ptr<SleepWatching> m_sleep;
    std::shared_ptr<AudioSystem> m_audio;
    std::shared_ptr<AccessibilityBackend> m_accessibility;
    std::shared_ptr<SecureInput> m_secureInput;
    std::shared_ptr<PasteboardAccessing> m_pasteboard;
    // Where the history page's copies write the clipboard, one after another, off the main
    // thread.
    std::shared_ptr<SerialQueue> m_copies;
    std::shared_ptr<KeyPosting> m_poster;
    std::shared_ptr<PasteKeyResolver> m_pasteKey;
    std::shared_ptr<SpeechRecognizers> m_recognizers;
    std::weak_ptr<Inserter> m_inserter;
    std::weak_ptr<PillPanel> m_pillPanel;
};

} // namespace talverin
