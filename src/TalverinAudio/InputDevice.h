#pragma once

#include "TalverinCore/EnumTable.h"

#include <cstdint>
#include <string>

namespace talverin {

// One usable input device. The id names it while it stays connected; the uid names it for
// good and is what the user's microphone choice stores.
struct InputDevice {
    // `virtual_` is spelled with an underscore because `virtual` is a keyword; its raw value
    // is "virtual".
    enum class Transport { builtIn, bluetooth, usb, virtual_, aggregate, continuity, other };

    std::uint32_t id = 0;
    std::string uid;
    std::string name;
    Transport transport = Transport::other;

    // Whether both name the same connected device: the same id and the same uid (an id may
    // be given to another device once this one is gone).
    bool isSame(const InputDevice& other) const { return id == other.id && uid == other.uid; }

    bool operator==(const InputDevice&) const = default;
};

template <> struct EnumTable<InputDevice::Transport> {
    static constexpr auto entries = std::to_array<EnumEntry<InputDevice::Transport>>({
        {InputDevice::Transport::builtIn, "builtIn"},
        {InputDevice::Transport::bluetooth, "bluetooth"},
        {InputDevice::Transport::usb, "usb"},
        {InputDevice::Transport::virtual_, "virtual"},
        {InputDevice::Transport::aggregate, "aggregate"},
        {InputDevice::Transport::continuity, "continuity"},
        {InputDevice::Transport::other, "other"},
    });
};

} // namespace talverin
