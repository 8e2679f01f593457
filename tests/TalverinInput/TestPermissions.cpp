#include "TalverinInput/Permissions.h"

#include "TapTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Wire::PermissionKind;

struct PaneCase {
    std::string name;
    PermissionKind kind;
    std::set<std::string> opening; // the addresses that open
    std::vector<std::string> tried;
    std::vector<std::string> lines;
};

class OpenPane : public ::testing::TestWithParam<PaneCase> {};

TEST_P(OpenPane, TriesThePanesInOrderAndFallsBackWithoutAPanel) {
    const auto& c = GetParam();
    test::LogLines log;
    std::vector<std::string> tried;
    Permissions::openPane(c.kind, [&](const std::string& address) {
        tried.push_back(address);
        return c.opening.contains(address);
    });
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(log.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenPane,
    ::testing::Values(
        PaneCase{"Gnome",
                 PermissionKind::accessibility,
                 {"gnome-control-center:universal-access?Privacy_Accessibility"},
                 {"gnome-control-center:universal-access?Privacy_Accessibility"},
                 {}},
        PaneCase{"Kde",
                 PermissionKind::microphone,
                 {"systemsettings:kcm_pulseaudio?Privacy_Microphone"},
                 {"gnome-control-center:sound?Privacy_Microphone",
                  "systemsettings:kcm_pulseaudio?Privacy_Microphone"},
                 {}},
        // Speech recognition has no panel anywhere, and even the fallback's answer is ignored.
        PaneCase{"Neither",
                 PermissionKind::speech,
                 {},
                 {"gnome-control-center:?Privacy_SpeechRecognition",
                  "systemsettings:?Privacy_SpeechRecognition", "gnome-control-center:"},
                 {"Permissions: could not open the speech pane"}}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace talverin
