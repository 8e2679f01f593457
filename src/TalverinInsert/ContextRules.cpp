#include "TalverinInsert/ContextRules.h"

#include "TalverinInsert/AppIdentity.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace talverin {

namespace {

template <std::size_t N>
bool member(const std::array<std::string_view, N>& set, std::string_view value) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

constexpr std::array<std::string_view, 4> textRoles{"AXTextField", "AXTextArea", "AXComboBox",
                                                    "AXSearchField"};

constexpr std::array<std::string_view, 18> nonTextValueRoles{
    "AXSlider",         "AXCheckBox",       "AXRadioButton",
    "AXIncrementor",    "AXColorWell",      "AXPopUpButton",
    "AXScrollBar",      "AXSplitter",       "AXDisclosureTriangle",
    "AXValueIndicator", "AXLevelIndicator", "AXProgressIndicator",
    "AXMenuButton",     "AXButton",         "AXStepper",
    "AXDateTimeArea",   "AXTimeField",      "AXDateField"};

constexpr std::array<std::string_view, 6> genericRoles{
    "AXGroup", "AXWindow", "AXWebArea", "AXScrollArea", "AXSplitGroup", "AXLayoutArea"};

constexpr std::array<std::string_view, 2> blindRoles{"AXUnknown", "AXApplication"};

constexpr std::string_view secureTextField = "AXSecureTextField";

} // namespace

bool ContextRules::isTextRole(std::string_view role) {
    return member(textRoles, role);
}
bool ContextRules::isNonTextValueRole(std::string_view role) {
    return member(nonTextValueRoles, role);
}
bool ContextRules::isGenericRole(std::string_view role) {
    return member(genericRoles, role);
}
bool ContextRules::isBlindRole(std::string_view role) {
    return member(blindRoles, role);
}

bool ContextRules::isTerminal(const std::optional<std::string>& role) {
    return role == terminalRole;
}

bool ContextRules::isTerminalProgram(const RunningApplication& app) {
    // Program names and window classes (lower-cased) of the terminals Debian ships; the class
    // covers a terminal started under another program's name.
    static constexpr std::array<std::string_view, 24> terminals{
        "xterm",          "uxterm",        "koi8rxterm",  "lxterm",        "rxvt",
        "urxvt",          "rxvt-unicode",  "st",          "st-256color",   "kitty",
        "alacritty",      "gnome-terminal", "gnome-terminal-server", "konsole",
        "xfce4-terminal", "terminator",    "tilix",       "lxterminal",    "mate-terminal",
        "sakura",         "terminology",   "qterminal",   "eterm",         "wezterm-gui",
    };
    const auto lowered = [](std::string name) {
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    };
    const auto listed = [&](const std::optional<std::string>& name) {
        return name && std::find(terminals.begin(), terminals.end(), lowered(*name)) !=
                           terminals.end();
    };
    return listed(app.localizedName) || listed(app.windowClass);
}

bool ContextRules::isSecureField(const std::optional<std::string>& role,
                                 const std::optional<std::string>& subrole) {
    return subrole == secureTextField || role == secureTextField;
}

const std::array<std::string_view, 9> WebEngines::chromiumPrefixes{
    "com.google.Chrome",
    "org.chromium.Chromium",
    "com.microsoft.edgemac",
    "com.brave.Browser",
    "company.thebrowser.",
    "com.vivaldi.Vivaldi",
    "com.operasoftware.Opera",
    "ru.yandex.desktop.yandex-browser",
    "com.yandex.desktop.yandex-browser",
};

const std::string_view WebEngines::electronMarker =
    "Contents/Frameworks/Electron Framework.framework";

const std::array<std::string_view, 6> WebEngines::manualAccessibilitySkipped{
    "com.microsoft.VSCode",          "com.microsoft.VSCodeInsiders",  "com.vscodium",
    "com.vscodium.VSCodiumInsiders", "com.todesktop.230313mzl4w4u92", "com.exafunction.windsurf",
};

bool WebEngines::isManualAccessibilitySkipped(const std::optional<std::string>& bundleID) {
    return bundleID && member(manualAccessibilitySkipped, *bundleID);
}

WebEngine WebEngines::classify(const std::optional<std::string>& bundleID,
                               const std::optional<std::string>& bundleLocation) {
    if (bundleID)
        for (std::string_view prefix : chromiumPrefixes)
            if (bundleID->starts_with(prefix))
                return WebEngine::chromium;
    if (!bundleLocation)
        return WebEngine::none;
    std::error_code error;
    const auto marker = std::filesystem::path(*bundleLocation) / std::string(electronMarker);
    // On Linux the bundle folder is the executable's, where Electron keeps the application's
    // code instead of a framework.
    return std::filesystem::exists(marker, error) || AppIdentity::holdsElectronApp(*bundleLocation)
               ? WebEngine::electron
               : WebEngine::none;
}

} // namespace talverin
