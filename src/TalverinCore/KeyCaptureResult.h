#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinCore/HoldKey.h"

#include <optional>

namespace talverin {

// Why a key offered during hold-key capture was refused.
enum class KeyRejectReason {
    typing, // it is a typing key
    combo,  // it was pressed together with other keys
};

// The answer to a page that asks to switch hold-key capture on or off.
enum class KeyCaptureAnswer {
    on,       // capture is now on
    off,      // capture is now off
    noKeyTap, // no key tap is running, so capture cannot start
    busy,     // refused because a dictation is running
};

template <> struct EnumTable<KeyRejectReason> {
    static constexpr auto entries = std::to_array<EnumEntry<KeyRejectReason>>({
        {KeyRejectReason::typing, "typing"},
        {KeyRejectReason::combo, "combo"},
    });
};

template <> struct EnumTable<KeyCaptureAnswer> {
    static constexpr auto entries = std::to_array<EnumEntry<KeyCaptureAnswer>>({
        {KeyCaptureAnswer::on, "on"},
        {KeyCaptureAnswer::off, "off"},
        {KeyCaptureAnswer::noKeyTap, "noKeyTap"},
        {KeyCaptureAnswer::busy, "busy"},
    });
};

// The outcome of one hold-key capture: a key was accepted, a key was rejected for a reason,
// or the capture was cancelled (Escape).
class KeyCaptureResult {
public:
    enum class Kind {
        accepted,
        rejected,
        cancelled,
    };

    static KeyCaptureResult accepted(HoldKey key) { return {Kind::accepted, key, {}}; }
    static KeyCaptureResult rejected(KeyRejectReason reason) {
        return {Kind::rejected, {}, reason};
    }
    static KeyCaptureResult cancelled() { return {Kind::cancelled, {}, {}}; }

    Kind kind() const { return m_kind; }
    // The accepted key; none for the other outcomes.
    std::optional<HoldKey> key() const { return m_key; }
    // The reason of a rejection; none for the other outcomes.
    std::optional<KeyRejectReason> reason() const { return m_reason; }

    bool operator==(const KeyCaptureResult&) const = default;

private:
    KeyCaptureResult(Kind kind, std::optional<HoldKey> key, std::optional<KeyRejectReason> reason)
        : m_kind(kind), m_key(key), m_reason(reason) {}

    Kind m_kind;
    std::optional<HoldKey> m_key;
    std::optional<KeyRejectReason> m_reason;
};

} // namespace talverin
