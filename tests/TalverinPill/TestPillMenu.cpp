#include "TalverinPill/PillMenu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

struct Check {
    std::string title;
    bool checked;
};

std::vector<Check> microphoneChecks(const std::vector<PillMenuItem>& items) {
    std::vector<Check> checks;
    for (const PillMenuItem& child : items.at(0).children)
        checks.push_back({child.title, child.checked});
    return checks;
}

bool operator==(const Check& a, const Check& b) {
    return a.title == b.title && a.checked == b.checked;
}

const PillMicrophoneMenu twoDevices{{{"usb-1", "USB Mic"}, {"int-0", "Built-in"}}, std::nullopt};

TEST(PillMenu, HasTheFiveEntriesInOrderWithTheirActions) {
    const auto items = PillMenu::items(PillCopy(PillLang::en), twoDevices);
    const std::vector<PillMenuItem> tail = {
        {"Hide for an hour", PillMenuAction::hideForAnHour(), false, {}, false},
        {"Back to bottom centre", PillMenuAction::resetSpot(), false, {}, false},
        PillMenuItem::separator(),
        {"Settings\u2026", PillMenuAction::openSettings(), false, {}, false},
    };
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(std::vector(items.begin() + 1, items.end()), tail);
    EXPECT_EQ(items[0].title, "Microphone");
    EXPECT_EQ(items[0].action, std::nullopt);
    EXPECT_FALSE(items[0].checked);
    EXPECT_FALSE(items[0].isSeparator);
    EXPECT_EQ(items[0].children.at(0).action, PillMenuAction::microphone(std::nullopt));
    EXPECT_EQ(items[0].children.at(1).action, PillMenuAction::microphone("usb-1"));
    EXPECT_EQ(items[0].children.at(2).action, PillMenuAction::microphone("int-0"));

    const auto ru = PillMenu::items(PillCopy(PillLang::ru), twoDevices);
    EXPECT_EQ(ru[0].title, "Микрофон");
    EXPECT_EQ(ru[0].children[0].title, "Авто");
    EXPECT_EQ(ru[4].title, "Настройки\u2026");
}

TEST(PillMenu, ExactlyOneMicrophoneIsChecked) {
    struct Row {
        const char* name;
        PillMicrophoneMenu menu;
        std::vector<Check> checks;
    };
    PillMicrophoneMenu usb = twoDevices, nothingMatches = twoDevices, emptyID = twoDevices;
    usb.selectedID = "usb-1";
    nothingMatches.selectedID = "gone-7";
    emptyID.selectedID = "";
    const Row rows[] = {
        {"automatic", twoDevices, {{"Automatic", true}, {"USB Mic", false}, {"Built-in", false}}},
        {"a device", usb, {{"Automatic", false}, {"USB Mic", true}, {"Built-in", false}}},
        {"an id that matches nothing",
         nothingMatches,
         {{"Automatic", true}, {"USB Mic", false}, {"Built-in", false}}},
        {"an empty id", emptyID, {{"Automatic", true}, {"USB Mic", false}, {"Built-in", false}}},
        {"no devices", {{}, "usb-1"}, {{"Automatic", true}}},
        {"nothing at all", {}, {{"Automatic", true}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(microphoneChecks(PillMenu::items(PillCopy(PillLang::en), row.menu)), row.checks);
    }
}

} // namespace
} // namespace talverin
