#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinInsert/AccessibilityBackend.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// What the roles of accessibility elements say about taking text. The Linux backend maps its
// own roles onto these names, so the rules stay one table for every desktop.
namespace ContextRules {

// Roles whose value is the text the user edits.
bool isTextRole(std::string_view role);
// Roles with a settable value that is not text (a slider's number, a checkbox's state).
bool isNonTextValueRole(std::string_view role);
// Containers that say nothing about the element inside them.
bool isGenericRole(std::string_view role);
// Roles of applications that describe nothing at all.
bool isBlindRole(std::string_view role);

// The role the desktop's backend gives a terminal. A terminal is not a text field: its value
// cannot be set, and the paste chord arrives there as a control character; it takes typed keys.
inline constexpr std::string_view terminalRole = "AXTerminal";
bool isTerminal(const std::optional<std::string>& role);
// A terminal known by its program or its window's class, for terminals that are not on the
// accessibility bus at all (xterm, rxvt and their kin).
bool isTerminalProgram(const RunningApplication& app);

// A password field, by its role or its subrole.
bool isSecureField(const std::optional<std::string>& role,
                   const std::optional<std::string>& subrole);

} // namespace ContextRules

// The browser engine an application embeds. Their accessibility trees are built only on
// request, and their roles are coarser than a native toolkit's.
enum class WebEngine {
    none,
    chromium,
    electron,
};

template <> struct EnumTable<WebEngine> {
    static constexpr auto entries = std::to_array<EnumEntry<WebEngine>>({
        {WebEngine::none, "none"},
        {WebEngine::chromium, "chromium"},
        {WebEngine::electron, "electron"},
    });
};

namespace WebEngines {

// Identifier prefixes of Chromium browsers, in the order they are tried.
extern const std::array<std::string_view, 9> chromiumPrefixes;
// Where an Electron application keeps its framework, below its bundle folder.
extern const std::string_view electronMarker;
// Editors that build their own tree and stall when asked for it again.
extern const std::array<std::string_view, 6> manualAccessibilitySkipped;

bool isManualAccessibilitySkipped(const std::optional<std::string>& bundleID);

// The engine of an application from its identifier and its bundle folder; a folder that holds
// the Electron framework is Electron whatever the identifier.
WebEngine classify(const std::optional<std::string>& bundleID,
                   const std::optional<std::string>& bundleLocation);

} // namespace WebEngines

} // namespace talverin
