#pragma once

#include "Talverin/App/KeyboardSettings.h"
#include "TalverinInput/Permissions.h"

#include <string>
#include <vector>

namespace talverin {

// Opens the keyboard panel of whichever desktop's settings program is installed. There is no
// desktop-neutral way to ask for it, so the known programs are tried in turn.
class KeyboardSettingsLinux final : public KeyboardSettings {
public:
    // The keyboard panels as settings addresses, in the order they are tried: GNOME Settings,
    // KDE System Settings, the Xfce keyboard dialog (a program of its own, with no panel).
    static const std::vector<std::string>& addresses();

    // `open` starts a settings address; the real one spawns the program found on PATH.
    explicit KeyboardSettingsLinux(SettingsOpener open);
    KeyboardSettingsLinux();

    // "no keyboard settings program is installed" when none of the programs is on PATH.
    std::optional<std::string> unavailableReason() const override;
    bool open() override;

private:
    SettingsOpener m_open;
};

} // namespace talverin
