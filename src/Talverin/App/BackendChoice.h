#pragma once

#include "TalverinCore/EnumTable.h"

#include <optional>
#include <string>
#include <vector>

namespace talverin {

// What the desktop offers the application, each as the reason it is missing; none when it is
// there.
struct Facilities {
    std::optional<std::string> display;     // "no display"
    std::optional<std::string> sessionBus;  // "no session bus"
    // The accessibility bus that the session bus starts on demand ("no accessibility bus").
    std::optional<std::string> accessibilityBus;
    std::optional<std::string> soundServer; // "no sound server"
    std::optional<std::string> speechModel; // "no speech model"
    // The pill's window, when this build has none to show it in.
    std::optional<std::string> pillWindow;
};

// The services whose backend the composition root chooses, in the order it logs them.
enum class LiveService {
    keyTap,
    microphone,
    ducker,
    sounds,
    accessibility,
    keyInput,
    clipboard,
    keychain,
    recognizer,
    pill,
};

template <> struct EnumTable<LiveService> {
    static constexpr auto entries = std::to_array<EnumEntry<LiveService>>({
        {LiveService::keyTap, "key tap"},
        {LiveService::microphone, "microphone"},
        {LiveService::ducker, "ducker"},
        {LiveService::sounds, "sounds"},
        {LiveService::accessibility, "accessibility"},
        {LiveService::keyInput, "key input"},
        {LiveService::clipboard, "clipboard"},
        {LiveService::keychain, "keychain"},
        {LiveService::recognizer, "recogniser"},
        {LiveService::pill, "pill"},
    });
};

// One service's backend: the real one, named by its technology, or the seam's Null backend
// with the reason the real one cannot run.
struct BackendChoice {
    LiveService service;
    std::string technology;
    std::optional<std::string> missing;

    bool isReal() const { return !missing.has_value(); }
    // "Services: microphone PulseAudio" or "Services: microphone none (no sound server)".
    std::string logLine() const;
};

namespace BackendChoices {
// Every service's choice, in LiveService order. A service that needs several facilities
// names the first one missing.
std::vector<BackendChoice> choose(const Facilities& facilities);
// The choice for one service out of choose()'s answer.
const BackendChoice& of(const std::vector<BackendChoice>& choices, LiveService service);
} // namespace BackendChoices

} // namespace talverin
