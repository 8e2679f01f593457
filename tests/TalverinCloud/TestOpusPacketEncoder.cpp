#include "TalverinCloud/OpusPacketEncoder.h"

#include "OpusTestSupport.h"
#include "support/LogLines.h"
#include "TalverinCloud/OggOpus.h"

#include <gtest/gtest.h>

#include <limits>

namespace talverin {
namespace {

using Fate = test::EncoderPlan::Fate;
using test::Bytes;
using test::EncoderPlan;
using test::ScriptedOpusEncoders;

std::int64_t finalGranule(const Bytes& stream) {
    const auto pages = test::oggPages(stream);
    return pages.empty() ? -1 : pages.back().granule;
}

std::uint32_t headerRate(const Bytes& stream) {
    const auto packets = test::oggPackets(stream);
    return packets.empty() || packets[0].size() < 16 ? 0 : test::readLe32(packets[0], 12);
}

TEST(OpusPacketEncoder, OneSecondGivesFiftyOneTwentyMillisecondPackets) {
    auto encoder = OpusPacketEncoder::create(16000, 320, 32000);
    ASSERT_TRUE(encoder);
    const auto samples = test::speechLike(16000);
    // Blocks that do not line up with frames: the encoder keeps the rest between them.
    for (std::size_t at = 0; at < samples.size(); at += 333) {
        const auto end = std::min(samples.size(), at + 333);
        ASSERT_TRUE((*encoder)->append(std::span(samples).subspan(at, end - at)));
    }
    auto packets = (*encoder)->finish();
    ASSERT_TRUE(packets);
    // 16000 samples and 104 of lookahead fill 51 frames of 320.
    EXPECT_EQ(packets->size(), 51u);
    for (const auto& packet : *packets)
        EXPECT_EQ(OggOpus::packetSamples(packet), 960);

    // Fed in one piece, the same samples give the very same packets.
    auto whole = OpusPacketEncoder::create(16000, 320, 32000);
    ASSERT_TRUE(whole);
    ASSERT_TRUE((*whole)->append(samples));
    EXPECT_EQ((*whole)->finish().value(), packets.value());
}

TEST(OpusPacketEncoder, FinishTwiceAndAppendAfterFinish) {
    ScriptedOpusEncoders encoders;
    auto encoder = OpusPacketEncoder::create(16000, 320, 32000, encoders.maker());
    ASSERT_TRUE(encoder);
    ASSERT_TRUE((*encoder)->append(test::speechLike(1000)));
    const auto first = (*encoder)->finish();
    ASSERT_TRUE(first);
    const int framesAtFinish = encoders.frames();

    EXPECT_TRUE((*encoder)->append(test::speechLike(5000)));
    const auto second = (*encoder)->finish();
    ASSERT_TRUE(second);
    EXPECT_EQ(second.value(), first.value());
    EXPECT_EQ(encoders.frames(), framesAtFinish) << "encoded again after finish";
}

TEST(OpusPacketEncoder, Failures) {
    struct Case {
        const char* name;
        EncoderPlan plan;
        OggOpus::EncodeError error;
        std::string description;
    };
    const Case cases[] = {
        {"cannot make",
         {Fate::cannotMake},
         OggOpus::EncodeError::noEncoder(16000),
         "no Opus encoder at 16000 Hz"},
        {"encoding fails",
         {Fate::failsAtFrame, 1},
         OggOpus::EncodeError::convert("libopus -3"),
         "Opus encoding failed: libopus -3"},
        {"fails with no error object",
         {Fate::failsAtFrame, 0, ""},
         OggOpus::EncodeError::convert(""),
         "Opus encoding failed: convert"},
        {"the tail fails",
         {Fate::failsAtFrame, 3},
         OggOpus::EncodeError::convert("libopus -3"),
         "Opus encoding failed: libopus -3"},
        {"invalid packets",
         {Fate::invalidPackets},
         OggOpus::EncodeError::badPackets(),
         "the encoder made no valid Opus packets"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedOpusEncoders encoders({c.plan});
        auto encoder = OpusPacketEncoder::create(16000, 320, 32000, encoders.maker());
        std::optional<OggOpus::EncodeError> error;
        if (!encoder) {
            error = encoder.error();
        } else if (auto appended = (*encoder)->append(test::speechLike(3 * 320)); !appended) {
            error = appended.error();
        } else if (auto packets = (*encoder)->finish(); !packets) {
            error = packets.error();
            EXPECT_FALSE((*encoder)->finish()) << "a second finish hides the failure";
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, c.error);
        EXPECT_EQ(error->description(), c.description);
    }
    EXPECT_EQ(OggOpus::EncodeError::empty().description(), "no samples");
}

TEST(OggOpusEncode, EveryLengthDecodesToExactlyTheInput) {
    for (const std::size_t count :
         {1ul, 104ul, 216ul, 217ul, 319ul, 320ul, 321ul, 16000ul, 16001ul, 48007ul}) {
        SCOPED_TRACE(count);
        const auto stream = OggOpus::encode(test::speechLike(count), 99);
        ASSERT_TRUE(stream);
        EXPECT_EQ(headerRate(*stream), 16000u);
        EXPECT_EQ(finalGranule(*stream), static_cast<std::int64_t>(3 * count + 312));
        test::expectValidOggOpus(*stream, count);
    }
}

TEST(OggOpusEncode, NonFiniteSamplesAreEncodedAsSilence) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto samples = test::speechLike(8000);
    auto silenced = samples;
    for (std::size_t i = 500; i < samples.size(); i += 700) {
        samples[i] = (i / 700) % 3 == 0 ? nan : (i / 700) % 3 == 1 ? inf : -inf;
        silenced[i] = 0.0f;
    }
    const auto stream = OggOpus::encode(samples, 5);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream.value(), OggOpus::encode(silenced, 5).value());
    test::expectValidOggOpus(*stream, samples.size());

    // The 48 kHz retry resamples first; the resampler must not smear them either.
    ScriptedOpusEncoders encoders({{Fate::cannotMake}});
    const auto retried = OggOpus::encode(samples, 5, encoders.maker());
    ASSERT_TRUE(retried);
    ScriptedOpusEncoders again({{Fate::cannotMake}});
    EXPECT_EQ(retried.value(), OggOpus::encode(silenced, 5, again.maker()).value());
}

TEST(OggOpusEncode, RetriesAt48kHzWhen16kHzFails) {
    const auto samples = test::speechLike(16000);
    for (const auto& plan : {EncoderPlan{Fate::cannotMake}, EncoderPlan{Fate::failsAtFrame, 2},
                             EncoderPlan{Fate::invalidPackets}}) {
        ScriptedOpusEncoders encoders({plan});
        const auto stream = OggOpus::encode(samples, 11, encoders.maker());
        ASSERT_TRUE(stream);
        EXPECT_EQ(encoders.rates(), (std::vector<int>{16000, 48000}));
        EXPECT_EQ(headerRate(*stream), 48000u);
        // keep is still three times the 16 kHz count.
        EXPECT_EQ(finalGranule(*stream), 48000 + 312);
        for (const auto& packet : test::oggPackets(*stream))
            if (packet.size() > 8 && std::string(packet.begin(), packet.begin() + 4) != "Opus")
                EXPECT_EQ(OggOpus::packetSamples(packet), 960);
        test::expectValidOggOpus(*stream, 48000, 48000);
    }
}

TEST(OggOpusEncode, FailingAtBothRatesGivesTheSecondError) {
    struct Case {
        std::vector<EncoderPlan> plans;
        std::string description;
    };
    const Case cases[] = {
        {{{Fate::cannotMake}, {Fate::cannotMake}}, "no Opus encoder at 48000 Hz"},
        {{{Fate::cannotMake}, {Fate::failsAtFrame, 0, ""}}, "Opus encoding failed: convert"},
        {{{Fate::failsAtFrame, 0}, {Fate::invalidPackets}},
         "the encoder made no valid Opus packets"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedOpusEncoders encoders(c.plans);
        const auto stream = OggOpus::encode(test::speechLike(4000), 1, encoders.maker());
        ASSERT_FALSE(stream);
        EXPECT_EQ(stream.error().description(), c.description);
    }
    const auto empty = OggOpus::encode({}, 1);
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error(), OggOpus::EncodeError::empty());
}

TEST(OggOpusResample, ThreeTimesAsManySamplesAt48kHz) {
    for (const std::size_t count : {1ul, 100ul, 16000ul, 16001ul}) {
        const auto out = OggOpus::resample(test::speechLike(count), 48000);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->size(), 3 * count);
    }
    EXPECT_FALSE(OggOpus::resample({}, 48000));
}

TEST(OggOpusClip, OpusForSamplesAndTheEmptyWavForNone) {
    test::LogLines log;
    const auto clip = OggOpus::clip(test::speechLike(24000));
    EXPECT_TRUE(clip.isOpus());
    EXPECT_EQ(clip.mime, "audio/ogg");
    EXPECT_DOUBLE_EQ(clip.seconds, 1.5);
    test::expectValidOggOpus(clip.data, 24000);

    const auto empty = OggOpus::clip({});
    EXPECT_EQ(empty, (EncodedClip{OggOpus::wav({}), "audio/wav", 0}));
    EXPECT_EQ(empty.data.size(), 44u);
    EXPECT_FALSE(OggOpus::usesWav());
    EXPECT_TRUE(log.lines().empty());
}

TEST(OggOpusClip, RandomSerialsDiffer) {
    // Two clips of the same samples differ only where the serial and the checksums go.
    const auto samples = test::speechLike(3200);
    const auto a = OggOpus::clip(samples);
    const auto b = OggOpus::clip(samples);
    ASSERT_EQ(a.data.size(), b.data.size());
    EXPECT_NE(test::readLe32(a.data, 14), test::readLe32(b.data, 14));
    EXPECT_NE(test::readLe32(a.data, 14), 0u);
}

} // namespace
} // namespace talverin
