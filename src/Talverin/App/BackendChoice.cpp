#include "Talverin/App/BackendChoice.h"

#include <cassert>

namespace talverin {

std::string BackendChoice::logLine() const {
    std::string line = "Services: " + std::string(toString(service)) + " ";
    if (missing)
        return line + "none (" + *missing + ")";
    return line + technology;
}

namespace BackendChoices {

namespace {

// The first facility of the list that is missing.
std::optional<std::string>
firstMissing(std::initializer_list<const std::optional<std::string>*> needs) {
    for (const auto* need : needs)
        if (*need)
            return **need;
    return std::nullopt;
}

} // namespace

std::vector<BackendChoice> choose(const Facilities& f) {
    // The accessibility tree lives on the accessibility bus, which the session bus starts, and
    // the focused window comes from the X server: it needs all three.
    return {
        {LiveService::keyTap, "XInput2", firstMissing({&f.display})},
        {LiveService::microphone, "PulseAudio", firstMissing({&f.soundServer})},
        {LiveService::ducker, "PulseAudio", firstMissing({&f.soundServer})},
        {LiveService::sounds, "PulseAudio", firstMissing({&f.soundServer})},
        {LiveService::accessibility, "AT-SPI", firstMissing({&f.display, &f.sessionBus, &f.accessibilityBus})},
        {LiveService::keyInput, "XTest", firstMissing({&f.display})},
        {LiveService::clipboard, "X11", firstMissing({&f.display})},
        {LiveService::keychain, "Secret Service", firstMissing({&f.sessionBus})},
        {LiveService::recognizer, "pocketsphinx", firstMissing({&f.speechModel})},
        {LiveService::pill, "GTK", firstMissing({&f.display, &f.pillWindow})},
    };
}

const BackendChoice& of(const std::vector<BackendChoice>& choices, LiveService service) {
    for (const auto& choice : choices)
        if (choice.service == service)
            return choice;
    assert(false && "every service has a choice");
    return choices.front();
}

} // namespace BackendChoices

} // namespace talverin
