#include "Talverin/Web/Bridge.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/MainQueue.h"
#include "Runtime/SerialQueue.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinInsert/ClipItem.h"
#include "TalverinInsert/PasteboardAccessing.h"

#include <utility>

namespace talverin {

// The clipboard belongs to the inserter's queue, where its owner waits for selection requests:
// the write is handed to the clipboard's queue and the main thread never blocks on it. A write
// that fails leaves a line, since the page has already said "Copied".
std::function<void(const std::string&)> Bridge::copyTo(std::optional<Clipboard> clipboard) {
    return [clipboard = std::move(clipboard)](const std::string& text) {
        if (!clipboard || !clipboard->pasteboard || !clipboard->queue) {
            CoreLog::write("History: not copied (no clipboard)");
            return;
        }
        clipboard->queue->async([pasteboard = clipboard->pasteboard, text] {
            ClipItem item;
            item.entries.push_back({std::string(PasteboardTypes::plainText), text});
            auto written = pasteboard->write({std::move(item)});
            if (!written)
                CoreLog::write("History: not copied (" + std::string(toString(written.error())) +
                               ")");
        });
    };
}

Bridge::Bridge(DefaultsStore& defaults, std::shared_ptr<HistoryStore> history,
               std::optional<Clipboard> clipboard)
    : m_defaults(defaults), m_history(std::move(history)) {
    permissions = [] {
        return Wire::Permissions{Wire::PermissionState::notDetermined,
                                 Wire::PermissionState::denied,
                                 Wire::PermissionState::notDetermined};
    };
    requestPermission = [](Wire::PermissionKind) {
        return Future<Wire::PermissionState>::ready(Wire::PermissionState::denied);
    };
    openPane = [](Wire::PermissionKind) {};
    microphones = [] { return std::vector<Wire::Microphone>{}; };
    insertAgain = [](std::string) {
        return Future<InsertOutcome>::ready(InsertOutcome::refused(RefuseReason::empty));
    };
    copyText = copyTo(std::move(clipboard));
    onLearnedWord = [](const std::string&) {};
    onFinishOnboarding = [] {};
    onMicTest = [](bool, ViewRole) {};
    hasNotch = [] { return false; };
    onKeyCapture = [](bool, ViewRole) { return KeyCaptureAnswer::off; };
    fnAction = [] { return Wire::FnAction::unknown; };
    openKeyboardSettings = [] {};
    hasTrayHost = [] { return true; };
    m_settings = Settings::load(m_defaults, Settings{});
}

void Bridge::attach(const std::shared_ptr<WebPage>& page, ViewRole role) {
    if (auto it = m_views.find(role); it != m_views.end()) {
        auto old = it->second.lock();
        if (old && old != page)
            old->removeMessageHandler();
    }
    m_views[role] = page;
}

void Bridge::detach(ViewRole role) {
    if (auto old = page(role))
        old->removeMessageHandler();
    m_views.erase(role);
    // A page that goes away must leave no microphone test or key capture running.
    onMicTest(false, role);
    onKeyCapture(false, role);
}

std::shared_ptr<WebPage> Bridge::page(ViewRole role) const {
    auto it = m_views.find(role);
    return it == m_views.end() ? nullptr : it->second.lock();
}

void Bridge::record(const Wire::Event& event) {
    if (recordsEvents)
        sent.push_back(event);
}

void Bridge::send(const Wire::Event& event) {
    record(event);
    auto script = event.script();
    if (!script)
        return;
    for (const auto& [role, weak] : m_views) {
        if (auto live = weak.lock())
            live->evaluate(*script);
    }
}

void Bridge::send(const Wire::Event& event, ViewRole role) {
    record(event);
    auto live = page(role);
    if (!live)
        return;
    if (auto script = event.script())
        live->evaluate(*script);
}

void Bridge::updateSettings(const Settings::Patch& patch) {
    const Settings old = m_settings;
    m_settings.apply(patch);
    m_settings.save(m_defaults);
    send(Wire::Event::settings(m_settings));
    if (!(m_settings == old) && onSettingsChanged)
        onSettingsChanged(m_settings, old);
}

void Bridge::addHistory(HistoryItem item) {
    const auto dropped = m_history->append(item);
    for (const auto& id : dropped)
        send(Wire::Event::historyRemoved(id));
    send(Wire::Event::historyAdded(std::move(item)));
}

} // namespace talverin
