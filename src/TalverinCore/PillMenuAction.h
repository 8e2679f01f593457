#pragma once

#include <optional>
#include <string>

namespace talverin {

// A choice in the pill's context menu.
class PillMenuAction {
public:
    enum class Kind {
        microphone,    // choose an input device
        hideForAnHour, // hide the idle pill for an hour
        resetSpot,     // back to the default spot
        openSettings,
    };

    // Choose the input device with this identifier; none is the menu's "Automatic" entry.
    static PillMenuAction microphone(std::optional<std::string> id) {
        return PillMenuAction(Kind::microphone, std::move(id));
    }
    static PillMenuAction hideForAnHour() { return PillMenuAction(Kind::hideForAnHour, {}); }
    static PillMenuAction resetSpot() { return PillMenuAction(Kind::resetSpot, {}); }
    static PillMenuAction openSettings() { return PillMenuAction(Kind::openSettings, {}); }

    Kind kind() const { return m_kind; }
    // The chosen device of a microphone action; none for automatic and for the other actions.
    const std::optional<std::string>& id() const { return m_id; }

    bool operator==(const PillMenuAction&) const = default;

private:
    PillMenuAction(Kind kind, std::optional<std::string> id) : m_kind(kind), m_id(std::move(id)) {}

    Kind m_kind;
    std::optional<std::string> m_id;
};

} // namespace talverin
