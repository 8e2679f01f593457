#pragma once

#include "Talverin/App/KeyboardSettings.h"
#include "TalverinInput/Permissions.h"

#include <string>
#include <vector>

namespace talverin {

// Opens the keyboard panel of the desktop's settings program. There is no desktop-neutral way
// to ask for it: the program of the running desktop (XDG_CURRENT_DESKTOP) is tried first, then
// the other known ones, since a desktop may run another's settings program.
class KeyboardSettingsLinux final : public KeyboardSettings {
public:
    // The keyboard panels as settings addresses, in the order they are tried under the desktops
    // named in `currentDesktop` (a colon-separated list such as "ubuntu:GNOME"): theirs first,
    // then GNOME Settings, KDE System Settings, the Xfce keyboard dialog (a program of its own,
    // with no panel).
    static std::vector<std::string> addresses(const std::string& currentDesktop);

    // `open` starts a settings address; the real one spawns the program found on PATH.
    KeyboardSettingsLinux(SettingsOpener open, std::string currentDesktop);
    // The running desktop's, over the real opener.
    KeyboardSettingsLinux();

    // "no keyboard settings program is installed" when none of the programs is on PATH.
    std::optional<std::string> unavailableReason() const override;
    bool open() override;

private:
    SettingsOpener m_open;
    std::vector<std::string> m_addresses;
};

} // namespace talverin
