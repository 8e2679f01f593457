#include "Talverin/App/BackendChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

std::vector<std::string> lines(const Facilities& facilities) {
    std::vector<std::string> out;
    for (const auto& choice : BackendChoices::choose(facilities))
        out.push_back(choice.logLine());
    return out;
}

TEST(BackendChoice, AFullDesktopGivesEveryRealBackendButThoseNotBuilt) {
    Facilities full;
    full.pillWindow = "no pill window in this build";
    EXPECT_EQ(lines(full), (std::vector<std::string>{
                               "Services: key tap XInput2",
                               "Services: microphone PulseAudio",
                               "Services: ducker PulseAudio",
                               "Services: sounds PulseAudio",
                               "Services: accessibility AT-SPI",
                               "Services: key input XTest",
                               "Services: clipboard X11",
                               "Services: keychain Secret Service",
                               "Services: recogniser pocketsphinx",
                               "Services: pill none (no pill window in this build)",
                           }));
}

// Each missing facility turns exactly the services that need it into their Null backends,
// and a service that needs two names the first one missing.
TEST(BackendChoice, EachMissingFacilityNullsTheServicesThatNeedIt) {
    struct Case {
        Facilities facilities;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{.soundServer = "no sound server"},
         {"Services: microphone none (no sound server)", "Services: ducker none (no sound server)",
          "Services: sounds none (no sound server)"}},
        {{.sessionBus = "no session bus"},
         {"Services: accessibility none (no session bus)",
          "Services: keychain none (no session bus)"}},
        {{.display = "no display", .sessionBus = "no session bus"},
         {"Services: key tap none (no display)", "Services: accessibility none (no display)",
          "Services: key input none (no display)", "Services: clipboard none (no display)",
          "Services: keychain none (no session bus)", "Services: pill none (no display)"}},
        {{.speechModel = "no speech model"}, {"Services: recogniser none (no speech model)"}},
        {{.sessionBus = "no session bus", .accessibilityBus = "no accessibility bus"},
         {"Services: accessibility none (no session bus)",
          "Services: keychain none (no session bus)"}},
        {{.accessibilityBus = "no accessibility bus"},
         {"Services: accessibility none (no accessibility bus)"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> nulls;
        for (const auto& line : lines(c.facilities))
            if (line.find(" none (") != std::string::npos)
                nulls.push_back(line);
        EXPECT_EQ(nulls, c.expected);
    }
}

} // namespace
} // namespace talverin
