#include "TalverinAudio/Sounds.h"

#include "Runtime/Bundle.h"
#include "TalverinAudio/WavFile.h"
#include "TalverinCore/CoreLog.h"
#include "fakes/SoundPlayerFake.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::SoundPlayerFake;
using test::TempDir;
namespace fs = std::filesystem;

TEST(Sounds, BundledFilesAreTheThreeTicksInOrder) {
    EXPECT_EQ(
        Sounds::bundledFiles(),
        (std::array<std::string, 3>{"sounds/start.wav", "sounds/stop.wav", "sounds/inserted.wav"}));
}

// The committed ticks are short, quiet enough not to clip, and decode with our reader.
TEST(Sounds, TheBundledFilesAreShortTicks) {
    const Bundle& bundle = Bundle::main();
    ASSERT_FALSE(bundle.folder().empty());
    for (const std::string& file : Sounds::bundledFiles()) {
        SCOPED_TRACE(file);
        auto wav = WavFile::read(bundle.resource(file));
        ASSERT_TRUE(wav) << wav.message();
        EXPECT_EQ(wav.value().channels, 1);
        double seconds = static_cast<double>(wav.value().samples.size()) / wav.value().sampleRate;
        EXPECT_GT(seconds, 0.03);
        EXPECT_LT(seconds, 0.3);
        float peak = 0;
        for (float s : wav.value().samples)
            peak = std::max(peak, std::fabs(s));
        EXPECT_GT(peak, 0.3f);
        EXPECT_LT(peak, 1.0f);
    }
}

class SoundsTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoreLog::setSink([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_logs.push_back(line);
        });
        fs::create_directories(dir.path() / "sounds");
        for (const std::string& file : Sounds::bundledFiles())
            fs::copy_file(Bundle::main().resource(file), dir.path() / file);
    }
    void TearDown() override { CoreLog::setSink({}); }

    std::vector<std::string> logs() {
        std::lock_guard lock(m_mutex);
        return m_logs;
    }
    Bundle bundle() const { return Bundle::withInfo(nlohmann::json::object(), dir.path()); }

    TempDir dir;
    std::shared_ptr<SoundPlayerFake> player = std::make_shared<SoundPlayerFake>();

private:
    std::mutex m_mutex;
    std::vector<std::string> m_logs;
};

TEST_F(SoundsTest, ARepeatedTickStopsAndRestartsAtTheTickVolume) {
    Sounds sounds(player, bundle());
    sounds.play(SoundTick::start);
    sounds.play(SoundTick::start);
    player->finishAll();
    sounds.play(SoundTick::start);
    EXPECT_EQ(player->events,
              (std::vector<std::string>{"load start.wav", "play start.wav 0.35", "stop start.wav",
                                        "play start.wav 0.35", "play start.wav 0.35"}));
    EXPECT_TRUE(logs().empty());
}

TEST_F(SoundsTest, AMissingOrBrokenFileIsLoggedOnceAndStaysSilent) {
    struct Case {
        const char* name;
        bool remove; // else the file is replaced by bytes that are not a WAV file
    };
    for (Case c : {Case{"missing", true}, Case{"broken", false}}) {
        SCOPED_TRACE(c.name);
        fs::path stop = dir.path() / "sounds/stop.wav";
        fs::remove(stop);
        if (!c.remove)
            std::ofstream(stop) << "not a sound";
        auto fake = std::make_shared<SoundPlayerFake>();
        Sounds sounds(fake, bundle());
        sounds.preload();
        sounds.play(SoundTick::stop);
        sounds.play(SoundTick::stop);
        sounds.play(SoundTick::start);
        sounds.play(SoundTick::inserted);
        std::vector<std::string> loads = {"load start.wav", "load inserted.wav"};
        if (!c.remove)
            loads.insert(loads.begin() + 1, "load stop.wav");
        loads.push_back("play start.wav 0.35");
        loads.push_back("play inserted.wav 0.35");
        EXPECT_EQ(fake->events, loads);
        auto lines = logs(); // both cases write to the same log
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "sounds: stop.wav is not in the bundle"),
                  c.remove ? 1 : 2);
    }
}

TEST_F(SoundsTest, ABundleWithoutAFolderHasNoTicks) {
    Bundle empty;
    EXPECT_TRUE(Sounds::candidates(SoundTick::start, empty).empty());
    EXPECT_EQ(Sounds::candidates(SoundTick::stop, bundle()),
              (std::vector<fs::path>{dir.path() / "sounds" / "stop.wav"}));
    Sounds sounds(player, empty);
    sounds.preload();
    sounds.play(SoundTick::inserted);
    EXPECT_TRUE(player->events.empty());
    EXPECT_EQ(logs(), (std::vector<std::string>{"sounds: start.wav is not in the bundle",
                                                "sounds: stop.wav is not in the bundle",
                                                "sounds: inserted.wav is not in the bundle"}));
}

// Builds a WAV file from its format fields and data bytes.
std::string wav(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                const std::string& data, std::size_t extraFormat = 0) {
    auto u16 = [](std::uint16_t v) { return std::string{char(v & 0xff), char(v >> 8)}; };
    auto u32 = [&](std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v & 0xffff)) +
               u16(static_cast<std::uint16_t>(v >> 16));
    };
    std::string format = u16(tag) + u16(channels) + u32(48000) + u32(48000u * channels * bits / 8) +
                         u16(static_cast<std::uint16_t>(channels * bits / 8)) + u16(bits);
    format += std::string(extraFormat, '\0');
    std::string body = "WAVE";
    body += "LIST" + u32(3) + "abc" + std::string(1, '\0'); // an odd chunk, padded
    body += "fmt " + u32(static_cast<std::uint32_t>(format.size())) + format;
    body += "data" + u32(static_cast<std::uint32_t>(data.size())) + data;
    return "RIFF" + u32(static_cast<std::uint32_t>(body.size())) + body;
}

TEST(WavFile, DecodesIntegerAndFloatSamples) {
    std::string int16 = std::string("\x00\x40\x00\x80", 4); // 0.5, -1
    auto a = WavFile::parse(wav(1, 1, 16, int16));
    ASSERT_TRUE(a) << a.message();
    EXPECT_EQ(a.value().samples, (std::vector<float>{0.5f, -1.0f}));

    float values[] = {0.25f, NAN, 4.0f, -0.5f};
    std::string floats(reinterpret_cast<const char*>(values), sizeof values);
    auto b = WavFile::parse(wav(3, 2, 32, floats));
    ASSERT_TRUE(b) << b.message();
    EXPECT_EQ(b.value().channels, 2);
    // A damaged float never reaches the speakers as NaN or above full scale.
    EXPECT_EQ(b.value().samples, (std::vector<float>{0.25f, 0.0f, 1.0f, -0.5f}));

    // The extensible format names its sample type at the start of its sub-format.
    std::string extensible = wav(0xFFFE, 1, 16, int16, 24);
    std::size_t subFormat = extensible.find("fmt ") + 8 + 24;
    extensible[subFormat] = 1;
    auto c = WavFile::parse(extensible);
    ASSERT_TRUE(c) << c.message();
    EXPECT_EQ(c.value().samples.size(), 2u);
}

TEST(WavFile, RefusesWhatItCannotPlay) {
    std::string good = wav(1, 1, 16, std::string(4, '\0'));
    std::string truncated = good.substr(0, good.size() - 2);
    struct Case {
        const char* name;
        std::string bytes;
        WavError error;
    };
    for (const Case& c : std::vector<Case>{
             {"empty", "", WavError::NotWav},
             {"not riff", "RIFX" + good.substr(4), WavError::NotWav},
             {"chunk past the end", truncated, WavError::NotWav},
             {"8 bit", wav(1, 1, 8, std::string(4, '\0')), WavError::Unsupported},
             {"no channels", wav(1, 0, 16, std::string(4, '\0')), WavError::Unsupported},
         }) {
        auto result = WavFile::parse(c.bytes);
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error(), c.error) << c.name;
    }
    EXPECT_EQ(WavFile::read("/nonexistent/tick.wav").error(), WavError::Unreadable);
}

} // namespace
} // namespace talverin
