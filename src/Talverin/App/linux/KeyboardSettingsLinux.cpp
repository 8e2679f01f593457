#include "Talverin/App/linux/KeyboardSettingsLinux.h"

#include "TalverinInput/linux/SettingsPanesLinux.h"

#include <glib.h>

namespace talverin {

namespace {

std::string programOf(const std::string& address) {
    return address.substr(0, address.find(':'));
}

} // namespace

const std::vector<std::string>& KeyboardSettingsLinux::addresses() {
    static const std::vector<std::string> all = {
        "gnome-control-center:keyboard",
        "systemsettings:kcm_keyboard",
        "xfce4-keyboard-settings:",
    };
    return all;
}

KeyboardSettingsLinux::KeyboardSettingsLinux(SettingsOpener open) : m_open(std::move(open)) {}

KeyboardSettingsLinux::KeyboardSettingsLinux() : KeyboardSettingsLinux(&SettingsPanesLinux::open) {}

std::optional<std::string> KeyboardSettingsLinux::unavailableReason() const {
    for (const auto& address : addresses()) {
        gchar* path = g_find_program_in_path(programOf(address).c_str());
        const bool found = path != nullptr;
        g_free(path);
        if (found)
            return std::nullopt;
    }
    return "no keyboard settings program is installed";
}

bool KeyboardSettingsLinux::open() {
    for (const auto& address : addresses())
        if (m_open(address))
            return true;
    return false;
}

} // namespace talverin
