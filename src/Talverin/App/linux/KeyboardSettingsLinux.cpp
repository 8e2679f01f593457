#include "Talverin/App/linux/KeyboardSettingsLinux.h"

#include "TalverinInput/linux/SettingsPanesLinux.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <glib.h>

namespace talverin {

namespace {

struct Panel {
    const char* desktop; // as XDG_CURRENT_DESKTOP names it
    const char* address;
};

constexpr Panel panels[] = {
    {"GNOME", "gnome-control-center:keyboard"},
    {"KDE", "systemsettings:kcm_keyboard"},
    {"XFCE", "xfce4-keyboard-settings:"},
};

std::string programOf(const std::string& address) {
    return address.substr(0, address.find(':'));
}

} // namespace

std::vector<std::string> KeyboardSettingsLinux::addresses(const std::string& currentDesktop) {
    std::vector<std::string> ordered;
    std::istringstream names(currentDesktop);
    for (std::string name; std::getline(names, name, ':');)
        for (const Panel& panel : panels)
            if (name == panel.desktop &&
                std::find(ordered.begin(), ordered.end(), panel.address) == ordered.end())
                ordered.emplace_back(panel.address);
    for (const Panel& panel : panels)
        if (std::find(ordered.begin(), ordered.end(), panel.address) == ordered.end())
            ordered.emplace_back(panel.address);
    return ordered;
}

KeyboardSettingsLinux::KeyboardSettingsLinux(SettingsOpener open, std::string currentDesktop)
    : m_open(std::move(open)), m_addresses(addresses(currentDesktop)) {}

KeyboardSettingsLinux::KeyboardSettingsLinux()
    : KeyboardSettingsLinux(&SettingsPanesLinux::open, [] {
          const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
          return std::string(desktop ? desktop : "");
      }()) {}

std::optional<std::string> KeyboardSettingsLinux::unavailableReason() const {
    for (const auto& address : m_addresses) {
        gchar* path = g_find_program_in_path(programOf(address).c_str());
        const bool found = path != nullptr;
        g_free(path);
        if (found)
            return std::nullopt;
    }
    return "no keyboard settings program is installed";
}

bool KeyboardSettingsLinux::open() {
    for (const auto& address : m_addresses)
        if (m_open(address))
            return true;
    return false;
}

} // namespace talverin
