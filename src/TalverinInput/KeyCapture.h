#pragma once

#include "TalverinCore/KeyCaptureResult.h"

#include <cstdint>
#include <optional>

namespace talverin {

// Decides, while the user picks a new hold key by pressing it, whether one acceptable key
// was pressed on its own, something that cannot be a hold key was pressed, or Escape
// cancelled. A modifier or function key is accepted only on its own release.
class KeyCapture {
public:
    struct Event {
        enum class Kind { flagsChanged, keyDown, keyUp, mediaKey, mouseDown };
        Kind kind;
        std::int64_t keyCode = 0;
        std::uint64_t flags = 0;
        bool isRepeat = false;

        static Event flagsChanged(std::int64_t code, std::uint64_t flags) {
            return {Kind::flagsChanged, code, flags, false};
        }
        static Event keyDown(std::int64_t code, std::uint64_t flags, bool isRepeat) {
            return {Kind::keyDown, code, flags, isRepeat};
        }
        static Event keyUp(std::int64_t code) { return {Kind::keyUp, code, 0, false}; }
        static Event mediaKey() { return {Kind::mediaKey}; }
        static Event mouseDown() { return {Kind::mouseDown}; }
        bool operator==(const Event&) const = default;
    };

    std::optional<KeyCaptureResult> handle(const Event& event);
    std::optional<HoldKey> pending() const { return m_pending; }

    bool operator==(const KeyCapture&) const = default;

private:
    std::optional<KeyCaptureResult> keyDown(const Event& event);
    std::optional<KeyCaptureResult> flagsChanged(const Event& event);

    std::optional<HoldKey> m_pending;
};

} // namespace talverin
