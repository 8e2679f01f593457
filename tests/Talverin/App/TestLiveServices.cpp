#include "Talverin/App/LiveServices.h"

#include "Runtime/Bundle.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/ClipEncodingFake.h"
#include "fakes/ContextReadingFake.h"
#include "fakes/DictatingFake.h"
#include "fakes/DuckingFake.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/LanguageRecognizingFake.h"
#include "fakes/LiveDraftingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PermissionWatchingFake.h"
#include "fakes/PillPresentingFake.h"
#include "fakes/SecureInputFake.h"
#include "fakes/SoundPlayerFake.h"
#include "fakes/TextInsertingFake.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

// Makers over fakes that write down, in one list, when each service is made and when the
// sound player loads a tick.
class LiveServicesTest : public ::testing::Test {
protected:
    LiveParts parts(bool configured) {
        LiveParts p;
        p.mic = [this](std::function<void()> onDevicesChange) {
            made.push_back("mic");
            devicesChange = std::move(onDevicesChange);
            return std::make_shared<test::MicCapturingFake>();
        };
        p.cloud = [this, configured](LiveParts::Consent consent) {
            made.push_back("cloud");
            givenConsent = std::move(consent);
            return LiveParts::Cloud{std::make_shared<test::DictatingFake>(), configured};
        };
        p.keyTap = [this](HoldKey key) {
            made.push_back("keyTap");
            givenHoldKey = key;
            return std::make_shared<test::KeyTappingFake>();
        };
        p.liveDraft = [this] {
            made.push_back("liveDraft");
            return std::make_shared<test::LiveDraftingFake>();
        };
        p.context = [this] {
            made.push_back("context");
            return std::make_shared<test::ContextReadingFake>();
        };
        p.inserter = [this] {
            made.push_back("inserter");
            return std::make_shared<test::TextInsertingFake>();
        };
        p.pill = [this](PillLang lang) {
            made.push_back(std::string("pill ") + std::string(toString(lang)));
            return std::make_shared<test::PillPresentingFake>();
        };
        p.sounds = [this] {
            made.push_back("sounds");
            return std::make_shared<Sounds>(player, Bundle::main());
        };
        p.ducker = [this] {
            for (const auto& event : player->events)
                made.push_back(event);
            made.push_back("ducker");
            return std::make_shared<test::DuckingFake>();
        };
        p.permissions = [this] {
            made.push_back("permissions");
            return std::make_shared<test::PermissionWatchingFake>();
        };
        p.correctionWatch = [this] {
            made.push_back("correctionWatch");
            return std::make_shared<CorrectionWatch>(accessibility, secure, [] { return true; },
                                                     1);
        };
        p.languageRecognizer = [this] {
            made.push_back("languageRecognizer");
            return std::make_shared<test::LanguageRecognizingFake>();
        };
        p.encoder = [] { return std::make_shared<test::ClipEncodingFake>(); };
        p.inputs = [this] { return devices; };
        p.preferredLanguages = [this] { return languages; };
        return p;
    }

    VirtualWorld world;
    test::AccessibilityBackendFake accessibility;
    test::SecureInputFake secure;
    std::shared_ptr<test::SoundPlayerFake> player = std::make_shared<test::SoundPlayerFake>();
    std::vector<std::string> made;
    std::function<void()> devicesChange;
    LiveParts::Consent givenConsent;
    std::optional<HoldKey> givenHoldKey;
    std::vector<InputDevice> devices;
    std::vector<std::string> languages{"en-US"};
};

// The order fixes the start-up side effects: the ticks are loaded before the ducker is made,
// and the correction watch comes last, after the bundle.
TEST_F(LiveServicesTest, BuildsTheServicesInTheirOrderAndLoadsTheTicksOnTheWay) {
    int devicesChanged = 0;
    auto live = LiveServices::live(
        HoldKey::rightCommand, [] { return true; }, [&] { ++devicesChanged; }, parts(true));
    EXPECT_EQ(made, (std::vector<std::string>{
                        "mic", "cloud", "keyTap", "liveDraft", "context", "inserter", "pill en",
                        "sounds", "load start.wav", "load stop.wav", "load inserted.wav",
                        "ducker", "permissions", "languageRecognizer", "correctionWatch"}));
    EXPECT_EQ(givenHoldKey, HoldKey::rightCommand);
    ASSERT_TRUE(devicesChange);
    devicesChange();
    EXPECT_EQ(devicesChanged, 1);
    ASSERT_TRUE(givenConsent);
    EXPECT_TRUE(givenConsent());
    ASSERT_TRUE(live.correctionWatch);
    const Services& s = *live.services;
    EXPECT_TRUE(s.keyTap && s.mic && s.liveDraft && s.context && s.inserter && s.dictate &&
                s.pill && s.sounds && s.ducker && s.permissions && s.languageRecognizer);

    // The controller's ticks reach the loaded sounds.
    s.sounds->play(SoundTick::inserted);
    EXPECT_EQ(player->events.back(), "play inserted.wav 0.35");
}

TEST_F(LiveServicesTest, TheCloudDecidedAtBuildGivesAFreshEncoderPerDictationOrNone) {
    auto withCloud = LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {},
                                        parts(true));
    auto first = withCloud.services->makeEncoder();
    auto second = withCloud.services->makeEncoder();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);

    auto without = LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {},
                                      parts(false));
    for (int dictation = 0; dictation < 3; ++dictation)
        EXPECT_FALSE(without.services->makeEncoder());
}

TEST_F(LiveServicesTest, MicrophonesAreTheDevicesAtTheMomentOfTheCall) {
    auto live = LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {}, parts(true));
    EXPECT_TRUE(live.services->microphones().empty());
    devices = {{7, "alsa_input.usb", "USB Mic", InputDevice::Transport::usb},
               {3, "vmic", "Virtual", InputDevice::Transport::virtual_}};
    EXPECT_EQ(live.services->microphones(),
              (std::vector<Wire::Microphone>{{"alsa_input.usb", "USB Mic"}, {"vmic", "Virtual"}}));
}

TEST_F(LiveServicesTest, ThePillSpeaksTheFirstPreferredLanguage) {
    struct Case {
        std::vector<std::string> languages;
        std::string pill;
    };
    for (const Case& c : {Case{{"ru-RU", "en-US"}, "pill ru"}, Case{{"en-GB", "ru"}, "pill en"},
                          Case{{}, "pill en"}}) {
        made.clear();
        languages = c.languages;
        LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {}, parts(false));
        EXPECT_NE(std::find(made.begin(), made.end(), c.pill), made.end()) << c.pill;
    }
}

TEST_F(LiveServicesTest, TheLiveTailKeepsSevenWordsAndFortyEightCharacters) {
    auto live = LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {}, parts(false));
    struct Case {
        std::string text;
        std::string tail;
    };
    for (const Case& c : {
             Case{"one two three", "one two three"},
             Case{"one two three four five six seven eight nine",
                  "\u2026three four five six seven eight nine"},
             Case{"supercalifragilisticexpialidocious antidisestablishmentarianism",
                  "\u2026antidisestablishmentarianism"},
         })
        EXPECT_EQ(live.services->liveTail(c.text), c.tail) << c.text;
}

TEST_F(LiveServicesTest, TheTimingIsTheApplicationsOwn) {
    auto live = LiveServices::live(HoldKey::rightOption, [] { return false; }, [] {}, parts(false));
    const DictationTiming& t = live.services->timing;
    EXPECT_EQ(t.levelInterval, 1.0 / 30);
    EXPECT_EQ(t.postRollMs, 150);
    EXPECT_EQ(t.resultHoldFor(PillState::Kind::limit), 3.0);
    EXPECT_FALSE(live.services->secureInput());
}

} // namespace
} // namespace talverin
