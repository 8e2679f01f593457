// labels: pulse
// resource-lock: pulse-server
#include "TalverinAudio/linux/AudioSystemPulse.h"

#include "PulseTestSupport.h"
#include "TalverinAudio/AudioDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace talverin {
namespace {

using T = InputDevice::Transport;

TEST(AudioSystemPulse, TransportFollowsTheBusAndTheFormFactor) {
    struct Case {
        const char* bus;
        const char* formFactor;
        T transport;
    };
    for (Case c : {Case{"usb", nullptr, T::usb}, Case{"usb", "internal", T::usb},
                   Case{"bluetooth", "headset", T::bluetooth}, Case{"pci", nullptr, T::builtIn},
                   Case{nullptr, "internal", T::builtIn}, Case{"", "internal", T::builtIn},
                   Case{nullptr, nullptr, T::virtual_}, Case{"", nullptr, T::virtual_},
                   Case{"firewire", nullptr, T::other}, Case{"isa", "webcam", T::other}}) {
        EXPECT_EQ(AudioSystemPulse::transportFor(c.bus, c.formFactor), c.transport)
            << (c.bus ? c.bus : "(no bus)") << " " << (c.formFactor ? c.formFactor : "");
    }
}

class AudioSystemPulseServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::serverRuns())
            GTEST_SKIP() << "no sound server";
    }

    test::ThreadEventLoop loop;
    AudioSystemPulse system{PulseConnection::shared()};
};

TEST_F(AudioSystemPulseServer, ListsTheMicrophonesButNotTheMonitors) {
    auto devices = AudioDevices::inputs(system);
    auto find = [&](const std::string& uid) {
        return std::find_if(devices.begin(), devices.end(),
                            [&](const InputDevice& d) { return d.uid == uid; });
    };
    ASSERT_NE(find("vmic"), devices.end());
    ASSERT_NE(find("vmic48"), devices.end());
    EXPECT_EQ(find("vspk.monitor"), devices.end());
    EXPECT_EQ(find("vmic")->transport, T::virtual_);
    EXPECT_EQ(find("vmic")->name, "Remapped Monitor of Null Output");

    EXPECT_EQ(AudioDevices::defaultInput(system), *find("vmic"));
    EXPECT_EQ(AudioDevices::inputShape(system, find("vmic48")->id), (InputShape{48000, 2}));
    EXPECT_EQ(AudioDevices::inputShape(system, find("vmic")->id), (InputShape{16000, 1}));
    EXPECT_EQ(AudioDevices::inputShape(system, 99999), InputShape{});
}

TEST_F(AudioSystemPulseServer, ReportsNewSourcesAndANewDefaultButNotPlainSourceChanges) {
    std::atomic<int> listChanges = 0;
    std::atomic<int> defaultChanges = 0;
    auto list = system.addListener(AudioSystem::Property::deviceList, [&] { ++listChanges; });
    auto def = system.addListener(AudioSystem::Property::defaultInput, [&] { ++defaultChanges; });
    ASSERT_TRUE(list.ok() && def.ok());

    // Recording from a source and changing its volume post plain change events only.
    test::shell("timeout 0.3 pacat --record -d vmic >/dev/null 2>&1");
    test::shell("pactl set-source-volume vmic 90% && pactl set-source-volume vmic 100%");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(listChanges, 0);
    EXPECT_EQ(defaultChanges, 0);

    std::string module = test::shellLine(
        "pactl load-module module-null-source source_name=tlvprobe rate=22050 channels=1");
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(test::waitFor([&] { return listChanges >= 1; }, test::patience));
    test::shell("pactl set-default-source tlvprobe");
    EXPECT_TRUE(test::waitFor([&] { return defaultChanges >= 1; }, test::patience));
    auto probe = AudioDevices::defaultInput(system);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->uid, "tlvprobe");
    EXPECT_EQ(AudioDevices::inputShape(system, probe->id), (InputShape{22050, 1}));

    test::shell("pactl set-default-source vmic && pactl unload-module " + module);
    EXPECT_TRUE(test::waitFor([&] { return listChanges >= 2; }, test::patience));
    system.removeListener(list.value());
    system.removeListener(def.value());
}

} // namespace
} // namespace talverin
