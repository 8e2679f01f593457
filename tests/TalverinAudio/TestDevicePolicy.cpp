#include "TalverinAudio/DevicePolicy.h"

#include "TalverinAudio/AudioDevices.h"
#include "TalverinAudio/CA.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/AudioSystemFake.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using T = InputDevice::Transport;
using R = DevicePolicy::Reason;

const InputDevice builtIn{1, "builtin-uid", "Built-in Microphone", T::builtIn};
const InputDevice headset{2, "headset-uid", "Headset", T::bluetooth};
const InputDevice usb{3, "usb-uid", "USB Microphone", T::usb};
const InputDevice headset2{4, "headset2-uid", "Second Headset", T::bluetooth};
const InputDevice loopback{5, "loop-uid", "Loopback", T::virtual_};

struct PolicyCase {
    std::string name;
    std::optional<std::string> requested;
    std::vector<InputDevice> devices;
    std::optional<std::uint32_t> systemDefault;
    std::optional<DevicePolicy::Choice> expected;
};

void PrintTo(const PolicyCase& c, std::ostream* os) {
    *os << c.name;
}

class DevicePolicyChoice : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(DevicePolicyChoice, PicksTheExpectedDevice) {
    const auto& c = GetParam();
    EXPECT_EQ(DevicePolicy::choose(c.requested, c.devices, c.systemDefault), c.expected);
}

using Choice = DevicePolicy::Choice;

INSTANTIATE_TEST_SUITE_P(
    Table, DevicePolicyChoice,
    ::testing::Values(
        PolicyCase{"noDevices", "usb-uid", {}, 2, std::nullopt},
        PolicyCase{
            "requestedConnected", "usb-uid", {builtIn, usb}, 1, Choice{usb, R::requested, false}},
        PolicyCase{"requestedMissingFallsToDefault",
                   "gone-uid",
                   {builtIn, usb},
                   3,
                   Choice{usb, R::systemDefault, true}},
        PolicyCase{
            "emptyRequestIsAutomatic", "", {builtIn, usb}, 3, Choice{usb, R::systemDefault, false}},
        PolicyCase{"bluetoothDefaultGivesWayToBuiltIn",
                   std::nullopt,
                   {headset, builtIn},
                   2,
                   Choice{builtIn, R::builtInInsteadOfBluetooth, false}},
        PolicyCase{"bluetoothDefaultWithoutBuiltInStays",
                   std::nullopt,
                   {headset, usb},
                   2,
                   Choice{headset, R::systemDefault, false}},
        PolicyCase{"unlistedDefaultTakesFirstBuiltIn",
                   std::nullopt,
                   {usb, builtIn},
                   9,
                   Choice{builtIn, R::firstAvailable, false}},
        PolicyCase{"noDefaultTakesFirstNotBluetooth",
                   std::nullopt,
                   {headset, usb},
                   std::nullopt,
                   Choice{usb, R::firstAvailable, false}},
        PolicyCase{"onlyBluetoothTakesTheFirst",
                   std::nullopt,
                   {headset, headset2},
                   std::nullopt,
                   Choice{headset, R::firstAvailable, false}},
        PolicyCase{"virtualDefault",
                   std::nullopt,
                   {builtIn, loopback},
                   5,
                   Choice{loopback, R::systemDefault, false}},
        PolicyCase{"missingRequestWithBluetoothDefault",
                   "gone-uid",
                   {headset, builtIn},
                   2,
                   Choice{builtIn, R::builtInInsteadOfBluetooth, true}},
        PolicyCase{"missingRequestWithoutDefault",
                   "gone-uid",
                   {headset, headset2},
                   std::nullopt,
                   Choice{headset, R::firstAvailable, true}}),
    [](const auto& info) { return info.param.name; });

TEST(CA, FourCCPrintsFourPrintableCharactersOrTheNumber) {
    EXPECT_EQ(CA::fourCC(1735159650), "glob");
    EXPECT_EQ(CA::fourCC(1), "1");
    EXPECT_EQ(CA::fourCC(CA::defaultInput), "dIn ");
    EXPECT_EQ(CA::fourCC(CA::deviceList), "dev#");
    EXPECT_EQ(CA::fourCC(CA::code("ab\x7f"
                                  "c")),
              std::to_string(CA::code("ab\x7f"
                                      "c")));
    EXPECT_EQ((CoreAudioError{"AudioObjectGetPropertyData(dev#)", -6}).description(),
              "AudioObjectGetPropertyData(dev#) failed (-6)");
}

TEST(AudioDevices, ReadFailuresGiveNoDevicesAndNoDefault) {
    VirtualWorld world;
    auto system = std::make_shared<test::AudioSystemFake>();
    system->setDevices({builtIn, usb});
    system->setDefaultInput(3);
    EXPECT_EQ(AudioDevices::defaultInput(*system), usb);
    // A default that is not among the usable inputs is not returned.
    system->setDefaultInput(7);
    EXPECT_EQ(AudioDevices::defaultInput(*system), std::nullopt);
    system->setDefaultInput(3);
    system->setListError(CoreAudioError{"AudioObjectGetPropertyData(dev#)", 1});
    EXPECT_TRUE(AudioDevices::inputs(*system).empty());
    EXPECT_EQ(AudioDevices::defaultInput(*system), std::nullopt);
}

} // namespace
} // namespace talverin
