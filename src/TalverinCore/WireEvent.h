#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinCore/HistoryItem.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/MicCheckReading.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireMicrophone.h"
#include "TalverinCore/WirePermissions.h"
#include "TalverinCore/WireTryDictationResult.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace talverin::Wire {

// One change the native side pushes to the pages: {"type": name, ...payload}. An event is built
// by the static function named after it; each payload accessor belongs to the event named beside
// it and gives an empty value for any other.
class Event {
public:
    // The thirteen events.
    enum class Kind {
        settings,
        historyAdded,
        historyRemoved,
        historyCleared,
        permissions,
        tryDictation,
        microphones,
        shown,
        hidden,
        holdKey,
        micLevel,
        openSettings,
        keyCapture,
    };

    static Event settings(Settings settings);
    static Event historyAdded(HistoryItem item);
    static Event historyRemoved(std::string id);
    static Event historyCleared() { return Event(Kind::historyCleared, std::monostate{}); }
    static Event permissions(Permissions permissions);
    static Event tryDictation(TryDictationResult result);
    static Event microphones(std::vector<Microphone> microphones);
    static Event shown() { return Event(Kind::shown, std::monostate{}); }
    static Event hidden() { return Event(Kind::hidden, std::monostate{}); }
    static Event holdKey(bool down);
    static Event micLevel(MicCheckReading reading);
    static Event openSettings(std::optional<std::string> focus = std::nullopt);
    static Event keyCapture(KeyCaptureResult capture);

    Kind kind() const { return m_kind; }
    // The event's name, written under "type".
    std::string_view type() const;

    const Settings& settings() const;                   // settings
    const HistoryItem& item() const;                    // historyAdded
    const std::string& id() const;                      // historyRemoved
    const Permissions& permissions() const;             // permissions
    const TryDictationResult& result() const;           // tryDictation
    const std::vector<Microphone>& microphones() const; // microphones
    bool down() const;                                  // holdKey
    const MicCheckReading& reading() const;             // micLevel
    const std::optional<std::string>& focus() const;    // openSettings
    KeyCaptureResult capture() const;                   // keyCapture, cancelled for others

    // The one line of script that hands the event to a page:
    // window.__tlvEmit && window.__tlvEmit(<the event's wire JSON>)
    // The guard makes it a no-op in a page that has not defined the receiver yet. Fails only
    // when the event cannot be encoded: a level that is not a finite number.
    Coded<std::string> script() const;

    bool operator==(const Event&) const = default;

private:
    using Payload = std::variant<std::monostate, Settings, HistoryItem, std::string, Permissions,
                                 TryDictationResult, std::vector<Microphone>, bool, MicCheckReading,
                                 std::optional<std::string>, KeyCaptureResult>;

    Event(Kind kind, Payload payload) : m_kind(kind), m_payload(std::move(payload)) {}

    template <typename T> const T* payload() const { return std::get_if<T>(&m_payload); }

    Kind m_kind;
    Payload m_payload;
};

// {"type": name} plus the payload under its key: "settings", "item", "id", "permissions",
// "result", "microphones", "down", "capture", or for micLevel the reading's "level" and, when
// set, "reason" beside "type"; "focus" only when present. Reading requires each event's payload
// key, reads a missing or null "reason" and "focus" as absent, ignores other keys, and fails an
// unknown type with dataCorrupted and "unknown event " followed by the type.
template <> struct Coding<Event> {
    static nlohmann::json encode(const Event& value);
    static Event decode(const nlohmann::json& json);
};

} // namespace talverin::Wire

namespace talverin {

template <> struct EnumTable<Wire::Event::Kind> {
    using Kind = Wire::Event::Kind;
    static constexpr auto entries = std::to_array<EnumEntry<Kind>>({
        {Kind::settings, "settings"},
        {Kind::historyAdded, "historyAdded"},
        {Kind::historyRemoved, "historyRemoved"},
        {Kind::historyCleared, "historyCleared"},
        {Kind::permissions, "permissions"},
        {Kind::tryDictation, "tryDictation"},
        {Kind::microphones, "microphones"},
        {Kind::shown, "shown"},
        {Kind::hidden, "hidden"},
        {Kind::holdKey, "holdKey"},
        {Kind::micLevel, "micLevel"},
        {Kind::openSettings, "openSettings"},
        {Kind::keyCapture, "keyCapture"},
    });
};

} // namespace talverin
