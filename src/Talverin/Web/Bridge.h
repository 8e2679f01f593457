#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinCore/InsertOutcome.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireCommand.h"
#include "TalverinCore/WireEvent.h"
#include "TalverinCore/WireFnAction.h"
#include "TalverinCore/WireMicrophone.h"
#include "TalverinCore/WireNativeState.h"
#include "TalverinCore/WirePermissions.h"
#include "Talverin/Web/WebPage.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace talverin {

class DefaultsStore;
class HistoryStore;
class PasteboardAccessing;
class SerialQueue;

// The one object between the local pages and the native side: it owns the current settings,
// holds the history, answers every page command and pushes events into the pages. Everything
// the pages need from other subsystems arrives through the callback fields, which the shell
// fills once at launch; until then each holds a harmless default, so the Bridge works alone.
// Main thread only.
class Bridge {
public:
    enum class ViewRole {
        main,       // the popover page
        onboarding, // the onboarding window's page
    };

    // Answers one page message: exactly one of the two is set on every path, a value (possibly
    // JSON null) on success, an error text on failure.
    struct Answer {
        std::optional<nlohmann::json> value;
        std::optional<std::string> error;
    };
    using Reply = std::function<void(Answer)>;

    // Where the default copyText writes: the desktop clipboard, touched only on the queue that
    // owns it (the inserter's), never from the main thread.
    struct Clipboard {
        std::shared_ptr<PasteboardAccessing> pasteboard;
        std::shared_ptr<SerialQueue> queue;
    };

    // The user defaults keys the Bridge writes besides the settings.
    static constexpr std::string_view cloudConsentAskedKey = "TLCloudConsentAsked";
    // The longest word the history may add to the vocabulary, in user-perceived characters.
    static constexpr std::size_t maxAddedWordLength = 64;

    // A copy into the clipboard, done on its queue; without one nothing is copied and a line
    // says so.
    static std::function<void(const std::string&)> copyTo(std::optional<Clipboard> clipboard);

    // Loads the settings from `defaults` over the default settings.
    Bridge(DefaultsStore& defaults, std::shared_ptr<HistoryStore> history,
           std::optional<Clipboard> clipboard = std::nullopt);
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    const Settings& settings() const { return m_settings; }
    HistoryStore& history() { return *m_history; }

    // Makes the page the role's page. A different live page of that role loses its message
    // handler first; the same page attached again keeps it.
    void attach(const std::shared_ptr<WebPage>& page, ViewRole role);
    // Forgets the role's page (removing its handler when it is alive), then stops that role's
    // microphone test and key capture.
    void detach(ViewRole role);
    // The role's page when it is still alive.
    std::shared_ptr<WebPage> page(ViewRole role) const;

    // Pushes the event to every live page, or to the one page of a role.
    void send(const Wire::Event& event);
    void send(const Wire::Event& event, ViewRole role);

    // Merges the patch, saves, pushes "settings" to every page, and tells onSettingsChanged
    // when the record changed.
    void updateSettings(const Settings::Patch& patch);
    // Stores a finished dictation; pushes "historyRemoved" for each item the cap dropped, then
    // "historyAdded".
    void addHistory(HistoryItem item);

    // One message of a page. `sender` is the page it came from (null when unknown); `body` is
    // the message as JSON text, absent when it had no JSON form.
    void receive(const WebPage* sender, const std::optional<std::string>& body, Reply reply);
    // Runs one command for the page of that role and answers through `reply`.
    void handle(const Wire::Command& command, ViewRole role, Reply reply);
    // The answer to "getState".
    Wire::NativeState state() const;

    std::function<void(const Settings& now, const Settings& before)> onSettingsChanged;
    std::function<Wire::Permissions()> permissions;
    std::function<Future<Wire::PermissionState>(Wire::PermissionKind)> requestPermission;
    std::function<void(Wire::PermissionKind)> openPane;
    std::function<std::vector<Wire::Microphone>()> microphones;
    bool cloudConfigured = false;
    std::function<Future<InsertOutcome>(std::string)> insertAgain;
    std::function<void(const std::string&)> copyText;
    std::function<void(const std::string&)> onLearnedWord;
    std::function<void()> onFinishOnboarding;
    std::function<void(bool on, ViewRole role)> onMicTest;
    std::function<bool()> hasNotch;
    std::function<KeyCaptureAnswer(bool on, ViewRole role)> onKeyCapture;
    std::function<Wire::FnAction()> fnAction;
    std::function<void()> openKeyboardSettings;
    // Whether a tray shows the status item. The pages tell a user without one where Talverin
    // is instead; it reaches them beside the state record as "trayHost". Default true.
    std::function<bool()> hasTrayHost;

    // When set, every pushed event is first appended to `sent`.
    bool recordsEvents = false;
    std::vector<Wire::Event> sent;

private:
    ViewRole roleOf(const WebPage* sender) const;
    void record(const Wire::Event& event);
    void addWord(const std::string& word);
    void finishOnboarding();
    template <typename T> static void answer(const Reply& reply, const T& value);

    std::map<ViewRole, std::weak_ptr<WebPage>> m_views;
    DefaultsStore& m_defaults;
    Settings m_settings;
    std::shared_ptr<HistoryStore> m_history;
};

template <> struct EnumTable<Bridge::ViewRole> {
    static constexpr auto entries = std::to_array<EnumEntry<Bridge::ViewRole>>({
        {Bridge::ViewRole::main, "main"},
        {Bridge::ViewRole::onboarding, "onboarding"},
    });
};

} // namespace talverin
