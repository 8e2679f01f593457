#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/WirePermissions.h"
#include "TalverinInput/PermissionReading.h"

#include <functional>
#include <string>

namespace talverin {

// Opens a settings address ("program:panel?anchor"); true when the desktop's settings were
// started on it.
using SettingsOpener = std::function<bool(const std::string& address)>;

// Reading, asking for, and showing the settings of the three permissions.
//
// A settings address names the desktop's settings program, the panel that holds the
// permission, and the permission's anchor: "gnome-control-center:sound?Privacy_Microphone".
// An address with an empty panel names no panel: the desktop has none for that permission.
namespace Permissions {

Wire::Permissions current(PermissionReading& reader);
Future<Wire::PermissionState> request(Wire::PermissionKind kind, PermissionReading& reader);

// "Privacy_Microphone", "Privacy_Accessibility", "Privacy_SpeechRecognition".
std::string anchor(Wire::PermissionKind kind);
// GNOME Settings' panel of the permission, with the anchor.
std::string paneURL(Wire::PermissionKind kind);
// KDE System Settings' module of the permission, with the anchor; tried second.
std::string settingsExtensionURL(Wire::PermissionKind kind);
// The settings program without a panel: the last resort.
std::string fallbackURL();

// Main thread. Tries the two addresses in order and, when neither opens, logs it and opens the
// settings without a panel, whatever comes of that.
void openPane(Wire::PermissionKind kind, const SettingsOpener& open);

} // namespace Permissions

} // namespace talverin
