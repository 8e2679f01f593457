#include "TalverinInput/Permissions.h"

#include "TalverinCore/CoreLog.h"

namespace talverin::Permissions {

namespace {

using Kind = Wire::PermissionKind;

// Speech recognition here is the on-device model being installed: no settings panel covers it.
std::string gnomePanel(Kind kind) {
    switch (kind) {
    case Kind::microphone:
        return "sound";
    case Kind::accessibility:
        return "universal-access";
    case Kind::speech:
        return "";
    }
    return "";
}

std::string kdeModule(Kind kind) {
    switch (kind) {
    case Kind::microphone:
        return "kcm_pulseaudio";
    case Kind::accessibility:
        return "kcm_access";
    case Kind::speech:
        return "";
    }
    return "";
}

} // namespace

Wire::Permissions current(PermissionReading& reader) {
    return reader.current();
}

Future<Wire::PermissionState> request(Wire::PermissionKind kind, PermissionReading& reader) {
    return reader.request(kind);
}

std::string anchor(Wire::PermissionKind kind) {
    switch (kind) {
    case Kind::microphone:
        return "Privacy_Microphone";
    case Kind::accessibility:
        return "Privacy_Accessibility";
    case Kind::speech:
        return "Privacy_SpeechRecognition";
    }
    return "";
}

std::string paneURL(Wire::PermissionKind kind) {
    return "gnome-control-center:" + gnomePanel(kind) + "?" + anchor(kind);
}

std::string settingsExtensionURL(Wire::PermissionKind kind) {
    return "systemsettings:" + kdeModule(kind) + "?" + anchor(kind);
}

std::string fallbackURL() {
    return "gnome-control-center:";
}

void openPane(Wire::PermissionKind kind, const SettingsOpener& open) {
    if (open(paneURL(kind)))
        return;
    if (open(settingsExtensionURL(kind)))
        return;
    CoreLog::write("Permissions: could not open the " + std::string(toString(kind)) + " pane");
    open(fallbackURL());
}

} // namespace talverin::Permissions
