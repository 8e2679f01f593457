#include "TalverinCloud/OggOpus.h"

#include "OpusTestSupport.h"
#include "TalverinCloud/OpusPacketEncoder.h"

#include <gtest/gtest.h>

#include <limits>

namespace talverin {
namespace {

using test::Bytes;
using test::oggPages;

// A 20 ms SILK wideband packet as far as its TOC byte goes (config 9, one frame).
Bytes smallPacket(std::size_t size = 40) {
    Bytes packet(size, 0x55);
    packet[0] = 9 << 3;
    return packet;
}

std::vector<Bytes> smallPackets(std::size_t count, std::size_t size = 40) {
    return std::vector<Bytes>(count, smallPacket(size));
}

TEST(OggOpusChecksum, NoBytesGiveZeroAndEveryPageMatchesLibogg) {
    EXPECT_EQ(OggOpus::crc({}), 0u);

    const std::vector<std::vector<Bytes>> pageContents = {
        {},
        {Bytes{}},
        {smallPacket(1)},
        {smallPacket(255), smallPacket(300)},
        {smallPacket(510), smallPacket(7), Bytes{}},
        smallPackets(50, 120),
    };
    std::uint32_t seq = 0;
    for (const auto& packets : pageContents) {
        for (const bool bos : {false, true}) {
            for (const bool eos : {false, true}) {
                const Bytes page =
                    OggOpus::page(packets, 0xC0FFEE11u, seq++, 123456789012ull, bos, eos);
                // libogg reads the page only when its checksum agrees; it recomputes it too.
                const auto views = oggPages(page);
                ASSERT_EQ(views.size(), 1u);
                // Read back: the checksum of the page with its checksum field zeroed.
                Bytes zeroed = page;
                std::fill(zeroed.begin() + 22, zeroed.begin() + 26, 0);
                EXPECT_EQ(OggOpus::crc(zeroed), test::readLe32(page, 22));
            }
        }
    }
}

TEST(OggOpusPage, HeaderFieldsAndFlags) {
    struct Case {
        bool bos;
        bool eos;
        std::uint8_t headerType;
    };
    for (const Case c : {Case{false, false, 0x00}, Case{true, false, 0x02}, Case{false, true, 0x04},
                         Case{true, true, 0x06}}) {
        const Bytes page =
            OggOpus::page(smallPackets(2), 0xA1B2C3D4u, 77, 0x0102030405060708ull, c.bos, c.eos);
        ASSERT_GE(page.size(), 27u);
        EXPECT_EQ(std::string(page.begin(), page.begin() + 4), "OggS");
        EXPECT_EQ(page[4], 0);
        EXPECT_EQ(page[5], c.headerType);
        const auto views = oggPages(page);
        ASSERT_EQ(views.size(), 1u);
        EXPECT_EQ(views[0].granule, 0x0102030405060708ll);
        EXPECT_EQ(views[0].serial, 0xA1B2C3D4u);
        EXPECT_EQ(views[0].seq, 77);
        EXPECT_EQ(views[0].bos, c.bos);
        EXPECT_EQ(views[0].eos, c.eos);
        EXPECT_EQ(views[0].packets, 2);
    }
}

TEST(OggOpusPage, LacingOfPacketLengths) {
    struct Case {
        std::size_t length;
        std::vector<std::uint8_t> lacing;
    };
    const Case cases[] = {
        {0, {0}}, {1, {1}}, {254, {254}}, {255, {255, 0}}, {300, {255, 45}}, {510, {255, 255, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const Bytes page =
            OggOpus::page(std::vector<Bytes>{Bytes(c.length, 7)}, 1, 0, 0, false, false);
        EXPECT_EQ(page[26], c.lacing.size());
        EXPECT_EQ(std::vector<std::uint8_t>(page.begin() + 27, page.begin() + 27 + page[26]),
                  c.lacing);
        EXPECT_EQ(page.size(), 27 + c.lacing.size() + c.length);
    }

    // Several packets: the lacing values and the bytes follow the packets' order.
    std::vector<Bytes> packets = {Bytes(255, 1), Bytes(510, 2), Bytes(300, 3)};
    const Bytes page = OggOpus::page(packets, 1, 0, 0, false, false);
    const auto views = oggPages(page);
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].lacing, (std::vector<std::uint8_t>{255, 0, 255, 255, 0, 255, 45}));
    EXPECT_EQ(views[0].packets, 3);
    Bytes body;
    for (const auto& p : packets)
        body.insert(body.end(), p.begin(), p.end());
    EXPECT_EQ(views[0].body, body);
}

TEST(OggOpusHeaders, OpusHeadAndOpusTagsBytes) {
    const Bytes head16 = {'O',  'p',  'u',  's',  'H',  'e',  'a',  'd',  0x01, 0x01,
                          0x38, 0x01, 0x80, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(OggOpus::opusHead(16000), head16);
    const Bytes head48 = OggOpus::opusHead(48000);
    ASSERT_EQ(head48.size(), 19u);
    EXPECT_EQ(test::readLe32(head48, 12), 48000u);

    Bytes tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 12, 0, 0, 0};
    const std::string vendor = "talverin-mac";
    tags.insert(tags.end(), vendor.begin(), vendor.end());
    tags.insert(tags.end(), {0, 0, 0, 0});
    EXPECT_EQ(OggOpus::opusTags(), tags);
    EXPECT_EQ(OggOpus::opusTags().size(), 28u);
}

TEST(OggOpusPacketSamples, DurationFromTheTocByte) {
    struct Case {
        Bytes packet;
        int samples;
    };
    const Case cases[] = {
        {{}, 0},                        // empty
        {{0 << 3}, 480},                // SILK NB 10 ms
        {{9 << 3}, 960},                // SILK WB 20 ms
        {{10 << 3}, 1920},              // SILK WB 40 ms
        {{11 << 3}, 2880},              // SILK WB 60 ms
        {{12 << 3}, 480},               // hybrid SWB 10 ms
        {{13 << 3}, 960},               // hybrid SWB 20 ms (bit 0x08)
        {{15 << 3 | 0x01}, 1920},       // hybrid FB 20 ms, code 1: two frames
        {{16 << 3}, 120},               // CELT 2.5 ms
        {{19 << 3 | 0x02}, 1920},       // CELT 20 ms, code 2: two frames
        {{31 << 3 | 0x03, 0x06}, 5760}, // CELT 20 ms, code 3: six frames, 120 ms
        {{31 << 3 | 0x03, 0x30}, 0},    // 48 frames of 960: above 120 ms
        {{9 << 3 | 0x03, 0x00}, 0},     // code 3 with no frames
        {{9 << 3 | 0x03}, 0},           // code 3 without its count byte
        {{11 << 3 | 0x01}, 5760},       // two 60 ms frames: exactly 120 ms
        {{11 << 3 | 0x03, 0x03}, 0},    // three 60 ms frames: 180 ms
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packet.empty() ? -1 : c.packet[0]);
        EXPECT_EQ(OggOpus::packetSamples(c.packet), c.samples);
    }
}

struct MuxLayout {
    std::vector<int> packetsPerPage;
    std::vector<std::int64_t> granules;
};

MuxLayout dataPagesOf(const Bytes& stream, std::uint32_t serial) {
    MuxLayout layout;
    const auto pages = oggPages(stream);
    EXPECT_GE(pages.size(), 2u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].serial, serial);
        EXPECT_EQ(pages[i].seq, static_cast<long>(i));
        EXPECT_EQ(pages[i].bos, i == 0);
        EXPECT_EQ(pages[i].eos, i + 1 == pages.size() && i >= 2);
        if (i >= 2) {
            layout.packetsPerPage.push_back(pages[i].packets);
            layout.granules.push_back(pages[i].granule);
        }
    }
    if (pages.size() >= 2) {
        EXPECT_EQ(pages[0].body, OggOpus::opusHead(16000));
        EXPECT_EQ(pages[0].granule, 0);
        EXPECT_EQ(pages[1].body, OggOpus::opusTags());
        EXPECT_EQ(pages[1].granule, 0);
    }
    return layout;
}

TEST(OggOpusMux, PagesHoldFiftyPacketsOrFewerThan256LacingValues) {
    struct Case {
        const char* name;
        std::size_t count;
        std::size_t size;
        std::int64_t keep;
        std::vector<int> packetsPerPage;
        std::vector<std::int64_t> granules;
    };
    const Case cases[] = {
        {"120 small packets", 120, 40, 120 * 960, {50, 50, 20}, {48000, 96000, 115200}},
        {"1000-byte packets", 60, 1000, 60 * 960, {50, 10}, {48000, 57600}},
        {"1300-byte packets", 50, 1300, 50 * 960, {42, 8}, {40320, 48000}},
        {"one packet", 1, 40, 960, {1}, {960}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto packets = smallPackets(c.count, c.size);
        const Bytes stream = OggOpus::mux(packets, 4242, 16000, c.keep);
        const auto layout = dataPagesOf(stream, 4242);
        EXPECT_EQ(layout.packetsPerPage, c.packetsPerPage);
        EXPECT_EQ(layout.granules, c.granules);
        EXPECT_EQ(test::oggPackets(stream).size(), c.count + 2);
    }
}

TEST(OggOpusMux, FinalGranuleIsTheInputLengthPlusPreSkipAtMost) {
    struct Case {
        std::int64_t keep;
        std::int64_t finalGranule;
        int packetsMuxed;
    };
    // 50 packets of 20 ms: 48000 samples at 48 kHz.
    const Case cases[] = {
        {48000, 48000, 50},  // the packets end before keep + 312
        {47000, 47312, 50},  // the last packet is trimmed by less than its length
        {100000, 48000, 50}, // a keep longer than the packets
        {0, 312, 1},         // nothing to play: only the first packet is needed
        {-5, 312, 1},        // a negative keep counts as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keep);
        const Bytes stream = OggOpus::mux(smallPackets(50), 9, 16000, c.keep);
        const auto layout = dataPagesOf(stream, 9);
        ASSERT_FALSE(layout.granules.empty());
        EXPECT_EQ(layout.granules.back(), c.finalGranule);
        int muxed = 0;
        for (int n : layout.packetsPerPage)
            muxed += n;
        EXPECT_EQ(muxed, c.packetsMuxed);
    }
}

// The last page's granule must never fall below the one before it, and may trim less than
// one packet: packets that start at or after keep + 312 are left out.
TEST(OggOpusMux, AShortKeepNeverMakesTheLastGranuleGoBackwards) {
    const auto packets = smallPackets(120);
    for (std::int64_t keep = 0; keep <= 120 * 960; keep += 997) {
        SCOPED_TRACE(keep);
        const auto layout = dataPagesOf(OggOpus::mux(packets, 3, 16000, keep), 3);
        ASSERT_FALSE(layout.granules.empty());
        EXPECT_TRUE(std::is_sorted(layout.granules.begin(), layout.granules.end()));
        int muxed = 0;
        for (int n : layout.packetsPerPage)
            muxed += n;
        const std::int64_t lastStart = (muxed - 1) * 960;
        EXPECT_GT(layout.granules.back(), lastStart) << "the last page trims a whole packet";
        EXPECT_EQ(layout.granules.back(), std::min<std::int64_t>(muxed * 960, keep + 312));
    }
}

TEST(OggOpusMux, AShortKeepOfRealPacketsPassesTheValidators) {
    // One second of speech in 51 real packets; a keep of half a second would have put a
    // granule of 24312 after a page ending at 48000.
    auto encoder = OpusPacketEncoder::create(16000, 320, 32000);
    ASSERT_TRUE(encoder);
    ASSERT_TRUE((*encoder)->append(test::speechLike(16000)));
    auto packets = (*encoder)->finish();
    ASSERT_TRUE(packets);
    ASSERT_EQ(packets->size(), 51u);
    const Bytes stream = OggOpus::mux(*packets, 77, 16000, 24000);
    EXPECT_EQ(dataPagesOf(stream, 77).granules, std::vector<std::int64_t>{24312});
    test::expectValidOggOpus(stream, 8000);
}

TEST(OggOpusMux, NoPacketsGiveTheTwoHeaderPagesAlone) {
    const Bytes stream = OggOpus::mux({}, 5, 16000, 1000);
    const auto pages = oggPages(stream);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(pages[0].bos);
    EXPECT_FALSE(pages[1].eos);
}

TEST(OggOpusWav, HeaderOfNoSamples) {
    const Bytes expected = {'R', 'I', 'F',  'F',  36,  0,   0,    0,    'W', 'A', 'V',
                            'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                            1,   0,   0x80, 0x3E, 0,   0,   0x00, 0x7D, 0,   0,   2,
                            0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    EXPECT_EQ(OggOpus::wav({}), expected);
}

TEST(OggOpusWav, SamplesAreClampedRoundedAwayFromZeroAndNonFiniteIsSilence) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> samples = {
        1.5f, -2.0f, nan, 0.5f, -0.5f, -1.0f, 1.0f, inf, -inf, 0.0f, 1.0f / 32767.0f * 0.49f};
    const std::vector<std::int16_t> expected = {32767, -32767, 0, 16384, -16384, -32767,
                                                32767, 0,      0, 0,     0};
    const Bytes file = OggOpus::wav(samples);
    ASSERT_EQ(file.size(), 44 + 2 * samples.size());
    EXPECT_EQ(test::readLe32(file, 4), 36 + 2 * samples.size());
    EXPECT_EQ(test::readLe32(file, 40), 2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        const auto value = static_cast<std::int16_t>(file[44 + 2 * i] | file[45 + 2 * i] << 8);
        EXPECT_EQ(value, expected[i]);
    }
}

} // namespace
} // namespace talverin
