#include "Talverin/App/linux/LiveSystem.h"

#include "Runtime/Bundle.h"
#include "Runtime/MainQueue.h"
#include "Runtime/PreferredLanguages.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/SyntheticInput.h"
#include "Runtime/linux/XErrorTrap.h"
#include "Talverin/App/OpusStream.h"
#include "Talverin/App/PillPresentingNull.h"
#include "Talverin/Dictation/linux/LanguageRecognizingCld2.h"
#include "Talverin/Web/Bridge.h"
#include "Talverin/App/linux/LiveAudio.h"
#include "TalverinAudio/AudioDevices.h"
#include "TalverinAudio/linux/PulseConnection.h"
#include "TalverinCloud/SecretStoreNull.h"
#include "TalverinCloud/linux/CloudLinux.h"
#include "TalverinCloud/linux/HttpTransportCurl.h"
#include "TalverinCloud/linux/SecretStoreLibsecret.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinInput/AccessibilityStatusNull.h"
#include "TalverinInput/KeySourceNull.h"
#include "TalverinInput/KeyTap.h"
#include "TalverinInput/KeyTappingNull.h"
#include "TalverinInput/MicrophoneAccessNull.h"
#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/SleepWatcherNull.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/AccessibilityTrust.h"
#include "TalverinInput/linux/KeySourceX11.h"
#include "TalverinInput/linux/MicrophoneAccessPulse.h"
#include "TalverinInput/linux/SettingsPanesLinux.h"
#include "TalverinInput/linux/SleepWatcherLogind.h"
#include "TalverinInput/linux/SystemPermissions.h"
#include "TalverinInsert/AXContext.h"
#include "TalverinInsert/AccessibilityNull.h"
#include "TalverinInsert/Inserter.h"
#include "TalverinInsert/KeyPostingNull.h"
#include "TalverinInsert/PasteboardNull.h"
#include "TalverinInsert/SecureInput.h"
#include "TalverinInsert/linux/AccessibilityAtspi.h"
#include "TalverinInsert/linux/KeyPostingXTest.h"
#include "TalverinInsert/linux/PasteboardX11.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillPanel.h"
#include "TalverinPill/linux/PillWindowDriverGtk.h"
#include "TalverinSpeech/LiveDraft.h"
#include "TalverinSpeech/SpeechRecognizersNull.h"
#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"

#include <cstdlib>
#include <filesystem>

#include <X11/Xlib.h>
#include <gio/gio.h>
#include <unistd.h>

namespace talverin {

namespace {

const char* const speechModelRoot = "/usr/share/pocketsphinx/model";

std::optional<std::string> probeDisplay() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return "no display";
    XErrorTrap::initThreads();
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return "no display";
    XCloseDisplay(display);
    return std::nullopt;
}

std::optional<std::string> probeSessionBus() {
    // Without an address GIO would try to autolaunch a bus through the X server, which
    // outlives us: a missing address and a missing socket both mean there is none.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::error_code error;
        if (!runtime || !std::filesystem::exists(std::filesystem::path(runtime) / "bus", error))
            return "no session bus";
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return "no session bus";
    }
    g_object_unref(bus);
    return std::nullopt;
}

// The accessibility bus is found through the session bus, which starts its launcher on
// demand. libatspi aborts the process when the launcher is missing, so we ask first.
std::optional<std::string> probeAccessibilityBus() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return "no session bus";
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply)
        return "no accessibility bus";
    g_variant_unref(reply);
    return std::nullopt;
}

std::optional<std::string> probeSoundServer() {
    if (MicrophoneAccessPulse::probe(MicrophoneAccessPulse::connectTimeout) !=
        Wire::PermissionState::granted)
        return "no sound server";
    return std::nullopt;
}

// The microphone check reads the connection that the audio services hold; it opens none.
MicrophoneAccessPulse::LinkReader microphoneLink() {
    return [connection = PulseConnection::shared()](double seconds) {
        if (seconds > 0)
            connection->waitReady(PulseConnection::deadlineIn(seconds));
        const PulseConnection::ServerStatus status = connection->status();
        return MicrophoneAccessPulse::Link{status.ready, status.error, status.unanswered};
    };
}

std::optional<std::string> probeSpeechModel() {
    if (SpeechRecognizersPocketsphinx::models(speechModelRoot).count("en-US") == 0)
        return "no speech model";
    return std::nullopt;
}

} // namespace

Facilities LiveSystem::probe() {
    Facilities facilities;
    facilities.display = probeDisplay();
    facilities.sessionBus = probeSessionBus();
    if (!facilities.sessionBus)
        facilities.accessibilityBus = probeAccessibilityBus();
    facilities.soundServer = probeSoundServer();
    facilities.speechModel = probeSpeechModel();
    return facilities;
}

LiveSystem::LiveSystem(Facilities facilities, std::shared_ptr<DefaultsStore> defaults,
                       std::shared_ptr<NotificationCenter> workspace,
                       std::shared_ptr<NotificationCenter> app)
    : m_facilities(std::move(facilities)), m_choices(BackendChoices::choose(m_facilities)),
      m_defaults(std::move(defaults)),
      m_accessibilityCenter(std::make_shared<NotificationCenter>()), m_app(std::move(app)),
      m_workspace(std::move(workspace)),
      m_synthetic(std::make_shared<SyntheticInput>()),
      m_secureInput(std::make_shared<SecureInputNone>()) {
    if (m_facilities.sessionBus)
        m_status = std::make_shared<AccessibilityStatusNull>(*m_facilities.sessionBus);
    else
        m_status = std::make_shared<AccessibilityStatusWatcher>(m_accessibilityCenter);
    m_trust = std::make_shared<AccessibilityTrust>(m_status);
    // The watcher says itself, once, when there is no system bus.
    m_sleep = std::make_shared<SleepWatcherLogind>(m_workspace);

    m_audio = LiveAudio::system(BackendChoices::of(m_choices, LiveService::microphone).missing);

    const auto& accessibility = BackendChoices::of(m_choices, LiveService::accessibility);
    if (accessibility.isReal())
        m_accessibility =
            std::make_shared<AccessibilityAtspi>([trust = m_trust] { return trust->isGranted(); });
    else
        m_accessibility = std::make_shared<AccessibilityNull>(*accessibility.missing);

    const auto& clipboard = BackendChoices::of(m_choices, LiveService::clipboard);
    if (clipboard.isReal()) {
        auto made = PasteboardX11::create();
        if (made)
            m_pasteboard = std::shared_ptr<PasteboardX11>(std::move(made).value());
    }
    if (!m_pasteboard)
        m_pasteboard = std::make_shared<PasteboardNull>(clipboard.missing.value_or("no display"));

    std::shared_ptr<KeyPosting> poster;
    if (isReal(LiveService::keyInput)) {
        auto made = KeyPostingXTest::create(m_synthetic);
        if (made) {
            std::shared_ptr<KeyPostingXTest> xtest = std::move(made).value();
            m_poster = xtest;
            m_pasteKey = xtest;
        }
    }
    if (!m_poster) {
        m_poster = std::make_shared<KeyPostingNull>("no display");
        m_pasteKey = std::make_shared<PasteKeyDefault>();
    }

    const auto& recognizer = BackendChoices::of(m_choices, LiveService::recognizer);
    if (recognizer.isReal())
        m_recognizers = std::make_shared<SpeechRecognizersPocketsphinx>(speechModelRoot);
    else
        m_recognizers = std::make_shared<SpeechRecognizersNull>(*recognizer.missing);
}

LiveSystem::~LiveSystem() = default;

bool LiveSystem::isReal(LiveService service) const {
    return BackendChoices::of(m_choices, service).isReal();
}

void LiveSystem::quitInserter() {
    if (auto inserter = m_inserter.lock())
        inserter->quit();
}

void LiveSystem::logChoices() const {
    for (const auto& choice : m_choices)
        CoreLog::write(choice.logLine());
}

LiveParts LiveSystem::parts() {
    LiveParts parts;
    parts.mic = [this](std::function<void()> onDevicesChange) {
        return LiveAudio::mic(m_audio, BackendChoices::of(m_choices, LiveService::microphone).missing,
                              std::move(onDevicesChange));
    };
    parts.cloud = [this](LiveParts::Consent consent) {
        std::shared_ptr<SecretStore> secrets;
        if (isReal(LiveService::keychain))
            secrets = std::make_shared<SecretStoreLibsecret>(Backend::keychainService());
        else
            secrets = std::make_shared<SecretStoreNull>(*m_facilities.sessionBus);
        auto backend = Backend::fromBundle(Bundle::main(), std::move(consent), secrets,
                                           std::make_shared<HttpTransportCurl>(Backend::userAgent()));
        LiveParts::Cloud cloud;
        cloud.configured = backend->isConfigured();
        cloud.dictate = CloudLinux::makeDictateClient(backend, LiveServices::cloudBudget);
        return cloud;
    };
    parts.keyTap = [this](HoldKey holdKey) -> std::shared_ptr<KeyTapping> {
        if (!isReal(LiveService::keyTap))
            return std::make_shared<KeyTappingNull>(holdKey, *m_facilities.display);
        KeyTap::System system;
        system.isTrusted = [trust = m_trust] { return trust->isGranted(); };
        system.makeSource = [synthetic = m_synthetic]() -> std::unique_ptr<KeySource> {
            return std::make_unique<KeySourceX11>(synthetic);
        };
        system.canSee = &KeySourceX11::canSee;
        system.workspace = m_workspace;
        return std::make_shared<KeyTap>(holdKey, std::move(system));
    };
    parts.liveDraft = [this] { return std::make_shared<LiveDraft>(m_recognizers); };
    parts.context = [this] {
        return std::make_shared<AXContext>(*m_accessibility, *m_secureInput);
    };
    parts.inserter = [this] {
        auto inserter = std::make_shared<Inserter>(Inserter::Services{
            *m_accessibility, *m_pasteboard, *m_poster, *m_pasteKey, *m_secureInput});
        m_inserter = inserter;
        return inserter;
    };
    parts.pill = [this](PillLang lang) -> std::shared_ptr<PillPresenting> {
        const auto& pill = BackendChoices::of(m_choices, LiveService::pill);
        if (pill.isReal()) {
            auto model = std::make_shared<PillModel>();
            auto driver = PillWindowDriverGtk::create(model);
            if (driver) {
                PillFonts::registerFonts(Bundle::main().folder());
                auto panel = std::make_shared<PillPanel>(model, driver.value(), lang,
                                                         &PillFonts::width);
                m_pillPanel = panel;
                return panel;
            }
            CoreLog::write("Services: pill none (no pill window)");
            return std::make_shared<PillPresentingNull>("no pill window");
        }
        return std::make_shared<PillPresentingNull>(pill.missing.value_or("no display"));
    };
    parts.pillState = [this]() -> std::optional<PillState> {
        if (auto panel = m_pillPanel.lock())
            return panel->state();
        return std::nullopt;
    };
    parts.screenFrame = [this](const Rect& window) -> std::optional<Rect> {
        if (auto panel = m_pillPanel.lock())
            return panel->screenFrame(window);
        return std::nullopt;
    };
    parts.sounds = [this] {
        return LiveAudio::sounds(BackendChoices::of(m_choices, LiveService::sounds).missing);
    };
    parts.ducker = [this] {
        return LiveAudio::ducker(BackendChoices::of(m_choices, LiveService::ducker).missing,
                                 m_defaults);
    };
    parts.permissions = [this] {
        std::shared_ptr<MicrophoneAccess> microphone;
        if (m_facilities.soundServer)
            microphone = std::make_shared<MicrophoneAccessNull>(*m_facilities.soundServer);
        else
            microphone = std::make_shared<MicrophoneAccessPulse>(microphoneLink());
        auto reader = std::make_shared<SystemPermissions>(m_trust, microphone);
        return std::make_shared<PermissionsMonitor>(
            reader, PermissionsMonitor::fastPoll, PermissionsMonitor::slowPoll,
            m_accessibilityCenter, m_app, m_workspace, [] { return Clock::uptime(); },
            &SettingsPanesLinux::open);
    };
    parts.correctionWatch = [this] {
        return std::make_shared<CorrectionWatch>(
            *m_accessibility, *m_secureInput, [trust = m_trust] { return trust->isGranted(); },
            static_cast<std::int32_t>(getpid()));
    };
    parts.languageRecognizer = [] { return std::make_shared<LanguageRecognizingCld2>(); };
    parts.encoder = [] {
        return std::make_shared<OpusStream>(std::make_shared<StreamingOpus>());
    };
    parts.inputs = [audio = m_audio] { return AudioDevices::inputs(*audio); };
    parts.preferredLanguages = [] { return PreferredLanguages::current(); };
    // The X11 clipboard answers a call from any thread after the one under way, so a copy
    // from the history waits behind an insertion instead of racing it.
    m_copies = std::make_shared<SerialQueue>("clipboard copies");
    parts.copyText = Bridge::copyTo(Bridge::Clipboard{m_pasteboard, m_copies});
    return parts;
}

} // namespace talverin
