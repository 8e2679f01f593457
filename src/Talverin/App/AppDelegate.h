#pragma once

#include "Runtime/DefaultsStore.h"
#include "Runtime/Liveness.h"
#include "Talverin/App/FrontApplications.h"
#include "Talverin/App/KeyCaptureCoordinator.h"
#include "Talverin/App/KeyboardSettings.h"
#include "Talverin/App/LiveServices.h"
#include "Talverin/App/MenuBarGlyph.h"
#include "Talverin/App/MicTest.h"
#include "Talverin/App/PillCoordinator.h"
#include "Talverin/App/ShellWindows.h"
#include "Talverin/Dictation/DictationController.h"
#include "Talverin/Web/Bridge.h"
#include "TalverinCore/AutomaticWordCorrection.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/SuspendReason.h"
#include "TalverinInput/NotificationCenter.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The cloud consent as the shell last wrote it, read by the cloud client from its own tasks.
class ConsentFlag {
public:
    void set(bool value) {
        std::lock_guard lock(m_lock);
        m_stored = value;
    }
    bool get() const {
        std::lock_guard lock(m_lock);
        return m_stored;
    }

private:
    mutable std::mutex m_lock;
    bool m_stored = false;
};

// The application of the normal mode: builds every long-lived object at launch in a fixed
// order, connects them, decides whether the onboarding opens, follows settings, permission
// and session changes, and winds everything down at termination. It owns what it builds for
// the life of the process. Main thread only.
class AppDelegate {
public:
    // The defaults keys of the shell.
    static constexpr const char* learningDisabledKey = "wordSuggestionsDisabled";
    static constexpr const char* obsoleteCorrectionsKey = "localWordCorrections";
    // The period of the key tap's restart check.
    static constexpr double keyTapCheckInterval = 3.0;
    // How long a page's key capture waits for a key.
    static constexpr double keyCaptureTimeout = 10.0;

    // What the launch builds on; the composition root supplies the real pieces, tests fakes.
    struct Environment {
        std::shared_ptr<DefaultsStore> defaults;
        std::filesystem::path historyFile;
        // Services.live over the chosen backends.
        std::function<LiveServices(HoldKey, LiveParts::Consent, std::function<void()>)>
            makeServices;
        std::shared_ptr<ShellWindows> windows;
        // Where sleep, session and lock notices arrive (SystemNotification).
        std::shared_ptr<NotificationCenter> workspace;
        // Where the shell says that one of its windows took the focus.
        std::shared_ptr<NotificationCenter> appCenter;
        // Starts the application at login, once the onboarding is finished.
        std::function<void()> registerLoginItem = [] {};
        // The concrete inserter's last step at termination.
        std::function<void()> quitInserter = [] {};
        // The application's version (none: "dev") and the system's name and version.
        std::optional<std::string> version;
        std::string system;
        // Where every module's log lines go from the launch on; empty keeps the sink there is.
        CoreLog::Sink logSink;
        // This process: the application in front is never remembered when it is ourselves.
        std::int32_t processID = 0;
        // The application in front, for the return after a dictation from the popover.
        std::shared_ptr<FrontApplications> frontApps =
            std::make_shared<FrontApplicationsNull>("none given");
        // Where the pages' note on the fn key sends the user.
        std::shared_ptr<KeyboardSettings> keyboardSettings =
            std::make_shared<KeyboardSettingsNull>("none given");
        // The desktop asks for less motion.
        std::function<bool()> reduceMotion = [] { return false; };
    };

    explicit AppDelegate(Environment environment);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    // Runs once; later calls do nothing.
    void applicationWillTerminate();
    // The application was started again while running.
    void applicationShouldHandleReopen();

    // The status menu's items.
    void toggleLearning();
    bool learningIsOn() const;
    void openOnboarding();

    // Sleep, a user switch or a lock is about to take the session away.
    void systemWillSuspend(SuspendReason reason);
    void restartKeyTapIfNeeded(bool refresh);
    void settingsChanged(const Settings& now, const Settings& before);
    void devicesChanged();

    Bridge* bridge() { return m_bridge.get(); }
    const std::shared_ptr<Services>& services() const { return m_services; }
    DictationController* dictation() { return m_dictation.get(); }
    KeyCaptureCoordinator* keyCapture() { return m_keyCapture.get(); }
    MicTest* micTest() { return m_micTest.get(); }
    PillCoordinator* pillCoordinator() { return m_pillCoordinator.get(); }
    MenuBarGlyph* glyph() { return m_glyph.get(); }
    const std::shared_ptr<CorrectionWatch>& correctionWatch() const { return m_correctionWatch; }
    bool hasTerminated() const { return m_terminated; }

    // Main thread: termination has run to its end; the process may stop its main loop.
    std::function<void()> onTerminated;

private:
    void wireBridge();
    void wireDictation();
    void wirePill();
    void wireOnboarding();
    void wirePermissions();
    void observeSuspend();
    void prewarmMic();
    void scheduleKeyTapCheck(std::uint64_t generation);
    void launchOnboardingRule(bool keyTapRunning);
    void learn(const std::string& text, const DictationContext& context);
    Settings settings() const;

    Environment m_env;
    std::shared_ptr<HistoryStore> m_history;
    std::unique_ptr<MenuBarGlyph> m_glyph;
    std::unique_ptr<Bridge> m_bridge;
    std::shared_ptr<Services> m_services;
    std::shared_ptr<CorrectionWatch> m_correctionWatch;
    std::unique_ptr<DictationController> m_dictation;
    std::unique_ptr<PillCoordinator> m_pillCoordinator;
    std::unique_ptr<MicTest> m_micTest;
    std::unique_ptr<KeyCaptureCoordinator> m_keyCapture;
    std::vector<NotificationCenter::Token> m_observers;
    std::shared_ptr<ConsentFlag> m_consent = std::make_shared<ConsentFlag>();
    // The one learned rule of the process.
    AutomaticWordCorrection m_learning;
    // The application in front when the popover opened, and the one a dictation that closed
    // the popover goes back to.
    std::optional<RunningApp> m_previousApp;
    std::optional<RunningApp> m_dictationTarget;
    // The running key-tap check's generation; 0 once it is stopped.
    std::uint64_t m_keyTapCheck = 0;
    bool m_launched = false;
    bool m_terminated = false;
    Liveness m_alive;
};

} // namespace talverin
