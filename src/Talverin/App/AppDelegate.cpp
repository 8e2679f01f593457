#include "Talverin/App/AppDelegate.h"

#include "Runtime/MainQueue.h"
#include "Talverin/App/Log.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/WireFnAction.h"

namespace talverin {

namespace {

std::string stateName(Wire::PermissionState state) { return std::string(toString(state)); }

// The notices that take the session away, with the reason a running dictation is dropped for.
struct SuspendNotice {
    std::string_view name;
    SuspendReason reason;
};
constexpr SuspendNotice suspendNotices[] = {
    {SystemNotification::willSleep, SuspendReason::sleep},
    {SystemNotification::sessionDidResignActive, SuspendReason::userSwitched},
    {SystemNotification::screenIsLocked, SuspendReason::screenLocked},
};

} // namespace

AppDelegate::AppDelegate(Environment environment) : m_env(std::move(environment)) {}

AppDelegate::~AppDelegate() {
    m_alive.end();
    m_keyTapCheck = 0;
    for (auto token : m_observers)
        m_env.workspace->removeObserver(token);
}

Settings AppDelegate::settings() const { return m_bridge ? m_bridge->settings() : Settings(); }

void AppDelegate::applicationDidFinishLaunching() {
    if (m_launched)
        return;
    m_launched = true;
    if (m_env.logSink)
        CoreLog::setSink(m_env.logSink);
    tlLog("Talverin " + m_env.version.value_or("dev") + " launched (" + m_env.system + ")");
    if (auto reason = m_env.windows->unavailableReason())
        tlLog("Windows: none (" + *reason + ")");

    m_history = std::make_shared<HistoryStore>(m_env.historyFile);
    m_bridge = std::make_unique<Bridge>(*m_env.defaults, m_history);
    m_consent->set(m_bridge->settings().cloudConsent);

    std::weak_ptr<ConsentFlag> consent = m_consent;
    auto token = m_alive.token();
    auto live = m_env.makeServices(
        m_bridge->settings().holdKey,
        [consent] {
            auto flag = consent.lock();
            return flag && flag->get();
        },
        [this, token] {
            if (token)
                devicesChanged();
        });
    m_services = live.services;
    m_correctionWatch = live.correctionWatch;
    m_bridge->cloudConfigured = live.cloudConfigured;
    if (live.copyText)
        m_bridge->copyText = live.copyText;

    // The status item's glyph rests until a dictation makes it active.
    m_glyph = std::make_unique<MenuBarGlyph>();
    m_glyph->pillState = live.pillState;
    m_glyph->reduceMotion = m_env.reduceMotion;
    m_glyph->apply = [windows = m_env.windows](const MenuBarIcon::Image& image) {
        windows->setStatusIcon(image);
    };

    m_env.windows->onQuit = [this, token] {
        if (token)
            applicationWillTerminate();
    };
    m_env.windows->onToggleLearning = [this, token] {
        if (token)
            toggleLearning();
    };
    m_env.windows->learningIsOn = [this, token] { return token && learningIsOn(); };
    m_env.windows->onOpenOnboarding = [this, token] {
        if (token)
            openOnboarding();
    };
    m_env.windows->onPopoverWillShow = [this, token] {
        if (!token)
            return;
        // With our own window in front (the onboarding, a popover reopened) there is no other
        // application for a dictation to go back to.
        auto front = m_env.frontApps->frontmost();
        if (front && front->pid == m_env.processID)
            front.reset();
        m_previousApp = front;
    };
    m_env.windows->onActivated = [center = m_env.appCenter] {
        center->post(SystemNotification::didBecomeActive);
    };
    m_env.windows->install(*m_bridge);
    m_env.defaults->remove(obsoleteCorrectionsKey);

    wireBridge();
    wireDictation();
    wirePill();
    wireOnboarding();
    wirePermissions();

    const Settings current = settings();
    m_services->mic->setDeviceID(current.microphoneID);
    prewarmMic();
    m_services->liveDraft->prewarm(current.languages);

    const bool running = m_services->keyTap->start();
    const Wire::Permissions permissions = m_services->permissions->current();
    tlLog(std::string("Launch: key tap ") +
          (running ? "running" : "not running (no Accessibility)") + ", microphone " +
          stateName(permissions.microphone) + ", speech " + stateName(permissions.speech) +
          ", backend " + (live.cloudConfigured ? "configured" : "none") + ", history " +
          std::to_string(m_history->items().size()) + " items");

    observeSuspend();
    m_keyTapCheck = 1;
    scheduleKeyTapCheck(m_keyTapCheck);
    launchOnboardingRule(running);
}

void AppDelegate::launchOnboardingRule(bool keyTapRunning) {
    const Settings current = settings();
    const Wire::Permissions p = m_services->permissions->current();
    const bool cloud = m_bridge->cloudConfigured;
    const std::string askedKey(Bridge::cloudConsentAskedKey);
    const bool neverAsked = cloud && current.onboarded && !current.cloudConsent &&
                            !m_env.defaults->contains(askedKey);
    const bool speechMissing = p.speech == Wire::PermissionState::denied ||
                               p.speech == Wire::PermissionState::notDetermined;
    if (!keyTapRunning || !current.onboarded || p.microphone != Wire::PermissionState::granted ||
        (speechMissing && !cloud)) {
        if (neverAsked)
            m_env.defaults->set(askedKey, true);
        m_env.windows->showOnboarding(std::nullopt, true);
    } else if (neverAsked) {
        m_env.defaults->set(askedKey, true);
        tlLog("Launch: the cloud consent was never asked: the onboarding's try-it step");
        m_env.windows->showOnboarding(4, true);
    }
}

void AppDelegate::wireBridge() {
    auto token = m_alive.token();
    Bridge& bridge = *m_bridge;
    auto permissions = m_services->permissions;
    bridge.permissions = [permissions] { return permissions->refresh(); };
    bridge.requestPermission = [permissions](Wire::PermissionKind kind) {
        return permissions->request(kind);
    };
    bridge.openPane = [permissions](Wire::PermissionKind kind) { permissions->openPane(kind); };
    bridge.microphones = m_services->microphones;
    bridge.hasNotch = [] { return false; };
    bridge.insertAgain = [this, token](std::string text) {
        if (!token) {
            Promise<InsertOutcome> refused;
            refused.resolve(InsertOutcome::refused(RefuseReason::empty));
            return refused.future();
        }
        return m_dictation->insertAgain(std::move(text));
    };
    bridge.onLearnedWord = [this, token](const std::string& word) {
        if (token && !m_dictation->hasSession())
            m_dictation->showResult(PillState::learned(word), std::nullopt);
    };
    bridge.onFinishOnboarding = [this, token] {
        if (!token)
            return;
        if (m_env.windows->hasOnboarding())
            m_env.windows->closeOnboarding();
        m_env.registerLoginItem();
    };
    bridge.onSettingsChanged = [this, token](const Settings& now, const Settings& before) {
        if (token)
            settingsChanged(now, before);
    };
    // X11 sees no fn key and the desktop keeps no setting for it: this answers unknown, and
    // the pages show no note about it.
    bridge.fnAction = [] { return Wire::currentFnAction(); };
    bridge.openKeyboardSettings = [settings = m_env.keyboardSettings] {
        tlLog("Keyboard settings opened (the fn note)");
        if (!settings->open())
            tlLog("Keyboard settings: not opened (" +
                  settings->unavailableReason().value_or("the settings program did not start") +
                  ")");
    };

    m_keyCapture = std::make_unique<KeyCaptureCoordinator>(*m_services->keyTap, keyCaptureTimeout);
    m_keyCapture->send = [this, token](const Wire::Event& event, Bridge::ViewRole role) {
        if (token)
            m_bridge->send(event, role);
    };
    m_keyCapture->isDictating = [this, token] {
        return token && m_dictation && m_dictation->hasSession();
    };
    m_keyCapture->start();
    bridge.onKeyCapture = [this, token](bool on, Bridge::ViewRole role) {
        return token ? m_keyCapture->set(on, role) : KeyCaptureAnswer::off;
    };
}

void AppDelegate::wireDictation() {
    auto token = m_alive.token();
    m_dictation = std::make_unique<DictationController>(m_services);
    DictationController& d = *m_dictation;
    d.settings = [this, token] { return token ? settings() : Settings(); };
    d.popoverShown = [this, token] { return token && m_env.windows->isPopoverShown(); };
    d.onActive = [this, token](bool active) {
        if (token)
            m_glyph->setActive(active);
    };
    d.closePopover = [this, token] {
        if (!token || !m_env.windows->isPopoverShown())
            return false;
        m_env.windows->closePopover();
        m_dictationTarget = m_previousApp;
        if (m_previousApp)
            m_env.frontApps->activate(*m_previousApp);
        return true;
    };
    d.targetReady = [this, token] {
        if (!token)
            return true;
        // Without an application to bring back, the target is whatever takes the focus once
        // our windows have let it go; reading the field before that reads our own window.
        if (!m_dictationTarget || m_env.frontApps->hasTerminated(*m_dictationTarget))
            return !m_env.windows->hasFocus();
        auto front = m_env.frontApps->frontmost();
        return front && front->pid == m_dictationTarget->pid;
    };
    d.onDictated = [this, token](const DictationRecord& record) {
        if (!token)
            return;
        m_bridge->addHistory(record.item);
        if (m_env.windows->hasOnboarding() && settings().onboardingStep == 4)
            m_bridge->send(Wire::Event::tryDictation(record.tryResult), Bridge::ViewRole::onboarding);
    };
    d.onInsertedForLearning = [this, token](const std::string& text,
                                            const DictationContext& context) {
        if (token)
            learn(text, context);
    };
    d.onMicFailed = [this, token](const MicError&) {
        if (!token)
            return;
        if (m_services->permissions->refresh().microphone != Wire::PermissionState::granted)
            m_env.windows->showOnboarding(std::nullopt, false);
    };
    d.onBusy = [this, token](bool busy) {
        if (!token)
            return;
        if (busy) {
            m_correctionWatch->stop();
            m_micTest->dictationBegan();
            m_keyCapture->dictationBegan();
        } else {
            // The controller is still inside its own callback: the test asks whether the
            // microphone is free on a later turn.
            MainQueue::post([this, token] {
                if (token)
                    m_micTest->update();
            });
        }
    };
    // A press during the onboarding's key test is the user trying the key, not dictating.
    d.keyTestShowing = [this, token] {
        return token && m_env.windows->hasOnboarding() && m_env.windows->onboardingIsKey() &&
               settings().onboardingStep == 3;
    };
    d.start();
}

void AppDelegate::wirePill() {
    auto token = m_alive.token();
    m_pillCoordinator = std::make_unique<PillCoordinator>(
        *m_services->pill, *m_services->keyTap, m_services->microphones, settings(),
        PillMetrics::idleHiddenFor);
    PillCoordinator& pill = *m_pillCoordinator;
    pill.updateSettings = [this, token](const Settings::Patch& patch) {
        if (token)
            m_bridge->updateSettings(patch);
    };
    pill.startHandsFree = [this, token] {
        if (token)
            m_dictation->clickedPill();
    };
    pill.openSettings = [this, token] {
        if (!token)
            return;
        if (!m_env.windows->isPopoverShown())
            m_env.windows->showPopover();
        m_bridge->send(Wire::Event::openSettings("pill"), Bridge::ViewRole::main);
    };
    pill.start();
}

void AppDelegate::wireOnboarding() {
    auto token = m_alive.token();
    m_micTest = std::make_unique<MicTest>(*m_services->mic);
    MicTest& test = *m_micTest;
    test.send = [this, token](const Wire::Event& event, Bridge::ViewRole role) {
        if (token)
            m_bridge->send(event, role);
    };
    test.micAllowed = [this, token] {
        return token &&
               m_services->permissions->current().microphone == Wire::PermissionState::granted;
    };
    test.micFree = [this, token] { return token && !m_dictation->hasSession(); };
    // The main page is on screen only while the popover shows it.
    test.onScreen = [this, token](Bridge::ViewRole role) {
        if (!token)
            return false;
        return role == Bridge::ViewRole::main ? m_env.windows->isPopoverShown()
                                              : m_env.windows->onboardingOnScreen();
    };
    m_env.windows->onScreenChange = [this, token] {
        if (token)
            m_micTest->update();
    };
    m_bridge->onMicTest = [this, token](bool on, Bridge::ViewRole role) {
        if (!token)
            return;
        if (on) {
            m_micTest->wantedBy = role;
        } else if (m_micTest->wantedBy == role) {
            m_micTest->wantedBy.reset();
        } else {
            return;
        }
        m_micTest->update();
    };
    m_services->keyTap->onHoldKeyChange = [this, token](bool down, double) {
        if (token && m_env.windows->hasOnboarding())
            m_bridge->send(Wire::Event::holdKey(down), Bridge::ViewRole::onboarding);
    };
}

void AppDelegate::learn(const std::string& text, const DictationContext& context) {
    if (!learningIsOn())
        return;
    auto token = m_alive.token();
    m_correctionWatch->watch(text, context, [this, token](std::optional<Replacement> change) {
        // Learning may have been turned off while the watch ran.
        if (!token || !learningIsOn())
            return;
        auto rules = m_learning.update(change, settings().replacements, Settings::maxReplacements);
        if (rules)
            m_bridge->updateSettings({.replacements = std::move(*rules)});
    });
}

void AppDelegate::wirePermissions() {
    auto token = m_alive.token();
    m_services->permissions->onChange = [this, token](const Wire::Permissions& now,
                                                      const Wire::Permissions& before) {
        if (!token)
            return;
        using Wire::PermissionState;
        m_bridge->send(Wire::Event::permissions(now));
        const bool had = before.accessibility == PermissionState::granted;
        const bool has = now.accessibility == PermissionState::granted;
        if (had && !has) {
            tlLog("Permissions: Accessibility lost: the onboarding opens");
            m_env.windows->showOnboarding(std::nullopt, false);
        } else if (had && has) {
            restartKeyTapIfNeeded(false);
        } else if (has) {
            m_services->keyTap->stop();
            const bool running = m_services->keyTap->start();
            tlLog(std::string("Permissions: Accessibility granted, key tap ") +
                  (running ? "running" : "still not running"));
            if (m_env.windows->hasOnboarding())
                m_env.windows->showOnboarding(std::nullopt, true);
        }
        if (now.microphone == PermissionState::granted &&
            before.microphone != PermissionState::granted)
            prewarmMic();
        if (now.microphone != before.microphone)
            m_micTest->update();
    };
    m_services->permissions->start();
}

void AppDelegate::prewarmMic() {
    auto mic = m_services->mic;
    WorkerPool::async([mic] {
        auto prepared = mic->prewarm();
        // The backends say what went wrong in the error itself and seldom add a message.
        if (!prepared)
            tlLog("Mic: not prepared (" + prepared.error().description() + ")");
    });
}

void AppDelegate::observeSuspend() {
    auto token = m_alive.token();
    // The hide of the pill's idle bar counts the sleep towards its hour.
    m_observers.push_back(m_env.workspace->addObserver(SystemNotification::didWake, [this, token] {
        if (token)
            m_pillCoordinator->didWake();
    }));
    for (const auto& notice : suspendNotices) {
        SuspendReason reason = notice.reason;
        m_observers.push_back(m_env.workspace->addObserver(notice.name, [this, token, reason] {
            if (token)
                systemWillSuspend(reason);
        }));
    }
}

void AppDelegate::systemWillSuspend(SuspendReason reason) {
    m_correctionWatch->stop();
    m_dictation->systemWillSuspend(reason);
    if (m_services->pill->isDragging()) {
        tlLog("Pill: drag put back (the computer sleeps or locks)");
        m_services->pill->cancelDrag();
    }
}

void AppDelegate::scheduleKeyTapCheck(std::uint64_t generation) {
    auto token = m_alive.token();
    MainQueue::after(keyTapCheckInterval, [this, token, generation] {
        if (!token || m_keyTapCheck != generation)
            return;
        restartKeyTapIfNeeded(true);
        scheduleKeyTapCheck(generation);
    });
}

void AppDelegate::restartKeyTapIfNeeded(bool refresh) {
    if (m_services->keyTap->isRunning())
        return;
    const auto permissions =
        refresh ? m_services->permissions->refresh() : m_services->permissions->current();
    if (permissions.accessibility != Wire::PermissionState::granted)
        return;
    const bool running = m_services->keyTap->start();
    tlLog(std::string("Key tap: started again (") + (running ? "running" : "still not running") +
          ")");
}

void AppDelegate::settingsChanged(const Settings& now, const Settings& before) {
    m_consent->set(now.cloudConsent);
    if (now.theme != before.theme)
        m_env.windows->setTheme(now.theme);
    if (now.holdKey != before.holdKey)
        m_services->keyTap->setHoldKey(now.holdKey);
    if (now.microphoneID != before.microphoneID) {
        m_services->mic->setDeviceID(now.microphoneID);
        prewarmMic();
    }
    if (now.languages != before.languages)
        m_services->liveDraft->prewarm(now.languages);
    m_pillCoordinator->settingsChanged(now, before);
}

void AppDelegate::devicesChanged() {
    if (!m_bridge)
        return;
    m_bridge->send(Wire::Event::microphones(m_services->microphones()));
    if (m_pillCoordinator)
        m_pillCoordinator->devicesChanged();
}

void AppDelegate::toggleLearning() {
    const bool disabled = !learningIsOn();
    m_env.defaults->set(learningDisabledKey, !disabled);
    if (!disabled)
        m_correctionWatch->stop();
    m_env.windows->learningChanged();
}

bool AppDelegate::learningIsOn() const {
    auto value = m_env.defaults->get(learningDisabledKey);
    return !(value && value->is_boolean() && value->get<bool>());
}

void AppDelegate::openOnboarding() { m_env.windows->showOnboarding(std::nullopt, true); }

void AppDelegate::applicationShouldHandleReopen() {
    if (!settings().onboarded)
        m_env.windows->showOnboarding(std::nullopt, true);
    else
        m_env.windows->showPopover();
}

void AppDelegate::applicationWillTerminate() {
    if (m_terminated || !m_launched)
        return;
    m_terminated = true;
    m_correctionWatch->stop();
    m_keyTapCheck = 0;
    for (auto token : m_observers)
        m_env.workspace->removeObserver(token);
    m_observers.clear();
    m_services->ducker->restoreImmediately();
    m_env.quitInserter();
    m_history->flush();
    tlLog("Talverin quit");
    tlLogFlush();
    if (onTerminated)
        onTerminated();
}

} // namespace talverin
