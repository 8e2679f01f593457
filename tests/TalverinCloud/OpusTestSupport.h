#pragma once

// Helpers shared by the clip-encoding tests: the opus-tools judges, libogg's view of our
// pages, speech-like audio and a scripted encoder.

#include "TalverinCloud/OggOpus.h"
#include "TalverinCloud/OpusFrameEncoder.h"
#include "TalverinCloud/OpusFrameEncoderLibopus.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace talverin {

// gtest shows a clip by its kind and size rather than by its bytes.
inline void PrintTo(const EncodedClip& clip, std::ostream* out) {
    *out << "EncodedClip{" << clip.mime << ", " << clip.data.size() << " bytes, " << clip.seconds
         << " s}";
}

} // namespace talverin

namespace talverin::test {

using Bytes = OggOpus::Bytes;

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The program's full path, or absent when it is not on PATH.
inline std::optional<std::string> findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        const auto candidate = std::filesystem::path(folder) / program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::nullopt;
}

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

// Runs the program with arguments (paths from TempDir, which need no quoting), standard
// error folded into the output.
inline ToolRun runTool(const std::string& program, const std::string& arguments) {
    ToolRun run;
    const auto found = findOnPath(program);
    if (!found) {
        ADD_FAILURE() << program << " is not on PATH: install opus-tools (listed in scripts/deps)";
        return run;
    }
    const std::string command = "'" + *found + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::uint32_t readLe32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

struct DecodedWav {
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::size_t samples = 0;
};

// Reads the chunks of a 16-bit PCM WAV file as opusdec writes it.
inline DecodedWav readWavShape(const Bytes& file) {
    DecodedWav shape;
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0) {
        ADD_FAILURE() << "not a WAV file";
        return shape;
    }
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::string id(file.begin() + at, file.begin() + at + 4);
        const std::uint32_t size = readLe32(file, at + 4);
        if (id == "fmt ") {
            shape.channels = file[at + 10] | file[at + 11] << 8;
            shape.rate = readLe32(file, at + 12);
        } else if (id == "data") {
            const std::size_t available = std::min<std::size_t>(size, file.size() - at - 8);
            shape.samples = available / 2 / std::max<std::uint32_t>(shape.channels, 1);
            break;
        }
        at += 8 + size + (size & 1);
    }
    return shape;
}

// What libogg reads from one of our pages.
struct PageView {
    bool bos = false;
    bool eos = false;
    std::int64_t granule = 0;
    std::uint32_t serial = 0;
    long seq = 0;
    int packets = 0;
    std::vector<std::uint8_t> lacing;
    Bytes body;
    Bytes raw;
};

// Splits a stream into pages with libogg, which drops any page whose checksum is wrong, and
// checks that libogg computes the same checksum for every page and that no byte is left over.
inline std::vector<PageView> oggPages(const Bytes& stream) {
    std::vector<PageView> pages;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(stream.size()));
    std::memcpy(buffer, stream.data(), stream.size());
    ogg_sync_wrote(&sync, static_cast<long>(stream.size()));
    std::size_t consumed = 0;
    ogg_page page;
    for (;;) {
        const int got = ogg_sync_pageout(&sync, &page);
        if (got == 0)
            break;
        if (got < 0) {
            ADD_FAILURE() << "libogg skipped bytes before page " << pages.size();
            continue;
        }
        PageView view;
        view.bos = ogg_page_bos(&page) != 0;
        view.eos = ogg_page_eos(&page) != 0;
        view.granule = ogg_page_granulepos(&page);
        view.serial = static_cast<std::uint32_t>(ogg_page_serialno(&page));
        view.seq = ogg_page_pageno(&page);
        view.packets = ogg_page_packets(&page);
        view.lacing.assign(page.header + 27, page.header + page.header_len);
        view.body.assign(page.body, page.body + page.body_len);
        view.raw.assign(page.header, page.header + page.header_len);
        view.raw.insert(view.raw.end(), page.body, page.body + page.body_len);
        consumed += view.raw.size();

        // libogg's own checksum of the same page, computed into a copy.
        Bytes copy = view.raw;
        ogg_page again{copy.data(), page.header_len, copy.data() + page.header_len, page.body_len};
        ogg_page_checksum_set(&again);
        EXPECT_TRUE(std::equal(copy.begin() + 22, copy.begin() + 26, view.raw.begin() + 22))
            << "page " << pages.size() << ": libogg computes another checksum";
        pages.push_back(std::move(view));
    }
    ogg_sync_clear(&sync);
    EXPECT_EQ(consumed, stream.size()) << "bytes that are not a valid page";
    return pages;
}

// The packets of a stream, in order, read back through libogg's stream layer.
inline std::vector<Bytes> oggPackets(const Bytes& stream) {
    std::vector<Bytes> packets;
    const auto pages = oggPages(stream);
    if (pages.empty())
        return packets;
    ogg_stream_state state;
    ogg_stream_init(&state, static_cast<int>(pages.front().serial));
    for (const auto& view : pages) {
        Bytes copy = view.raw;
        const long headerLength = 27 + static_cast<long>(view.lacing.size());
        ogg_page page{copy.data(), headerLength, copy.data() + headerLength,
                      static_cast<long>(copy.size()) - headerLength};
        EXPECT_EQ(ogg_stream_pagein(&state, &page), 0);
        ogg_packet packet;
        while (ogg_stream_packetout(&state, &packet) == 1)
            packets.emplace_back(packet.packet, packet.packet + packet.bytes);
    }
    ogg_stream_clear(&state);
    return packets;
}

// The judges of a finished Ogg Opus stream: every page's checksum equals libogg's, opusinfo
// accepts the file without a warning, and opusdec decodes it, at the input rate of its
// header, to exactly `expectedSamples`.
inline void expectValidOggOpus(const Bytes& stream, std::size_t expectedSamples,
                               std::uint32_t expectedRate = 16000) {
    SCOPED_TRACE("Ogg Opus stream of " + std::to_string(stream.size()) + " bytes");
    oggPages(stream);
    TempDir folder;
    const auto input = folder.path() / "clip.opus";
    const auto output = folder.path() / "decoded.wav";
    writeBytes(input, stream);

    const ToolRun info = runTool("opusinfo", input.string());
    EXPECT_EQ(info.exitCode, 0) << info.output;
    std::string lower = info.output;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(lower.find("warning"), std::string::npos) << info.output;
    EXPECT_EQ(lower.find("error"), std::string::npos) << info.output;

    const ToolRun decode = runTool("opusdec", "--quiet " + input.string() + " " + output.string());
    EXPECT_EQ(decode.exitCode, 0) << decode.output;
    const DecodedWav shape = readWavShape(readBytes(output));
    EXPECT_EQ(shape.rate, expectedRate);
    EXPECT_EQ(shape.channels, 1u);
    EXPECT_EQ(shape.samples, expectedSamples);
}

// Deterministic audio that behaves like speech for an encoder: voiced syllables on a moving
// pitch with a few harmonics, noisy consonants and short pauses.
inline std::vector<float> speechLike(std::size_t count, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> out(count);
    double phase = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 16000.0;
        const double syllable = std::fmod(t * 4.0, 1.0);
        const double pitch = 120.0 + 40.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
        phase += 2 * std::numbers::pi * pitch / 16000.0;
        double voiced = 0;
        for (int h = 1; h <= 6; ++h)
            voiced += std::sin(phase * h) / h;
        const double envelope = syllable < 0.6 ? std::sin(std::numbers::pi * syllable / 0.6) : 0.0;
        const double consonant = syllable > 0.7 && syllable < 0.8 ? 0.08 * noise(random) : 0.0;
        out[i] = static_cast<float>(0.25 * envelope * voiced + consonant);
    }
    return out;
}

// Plans for the encoders a scripted maker makes, in order; once the plans run out, encoders
// work. Working encoders are libopus itself, so their packets are real.
struct EncoderPlan {
    enum class Fate {
        works,
        cannotMake,
        // Encoding fails at frame `frame` (counted from 0) and at every frame after it.
        failsAtFrame,
        // Every packet has a TOC byte that declares no frames.
        invalidPackets,
    };
    Fate fate = Fate::works;
    int frame = 0;
    // The failure's message; empty for a failure that gives no error object.
    std::string message = "libopus -3";
};

class ScriptedOpusEncoders {
public:
    explicit ScriptedOpusEncoders(std::vector<EncoderPlan> plans = {})
        : m_state(std::make_shared<State>()) {
        m_state->plans.assign(plans.begin(), plans.end());
    }

    OpusEncoderMaker maker() const {
        return [state = m_state](
                   int rate, int frameSize,
                   int bitRate) -> Result<std::unique_ptr<OpusFrameEncoder>, OpusFrameError> {
            EncoderPlan plan;
            {
                std::lock_guard guard(state->lock);
                state->rates.push_back(rate);
                if (!state->plans.empty()) {
                    plan = state->plans.front();
                    state->plans.pop_front();
                }
            }
            if (plan.fate == EncoderPlan::Fate::cannotMake)
                return fail(OpusFrameError::cannotMake, plan.message);
            auto inner = OpusFrameEncoderLibopus::make(rate, frameSize, bitRate);
            if (!inner)
                return inner;
            return std::unique_ptr<OpusFrameEncoder>(
                new Scripted(std::move(inner).value(), plan, state));
        };
    }

    // The rates encoders were asked for, in order.
    std::vector<int> rates() const {
        std::lock_guard guard(m_state->lock);
        return m_state->rates;
    }
    // Frames handed to the scripted encoders so far.
    int frames() const {
        std::lock_guard guard(m_state->lock);
        return m_state->frames;
    }

private:
    struct State {
        std::mutex lock;
        std::deque<EncoderPlan> plans;
        std::vector<int> rates;
        int frames = 0;
    };

    class Scripted final : public OpusFrameEncoder {
    public:
        Scripted(std::unique_ptr<OpusFrameEncoder> inner, EncoderPlan plan,
                 std::shared_ptr<State> state)
            : m_inner(std::move(inner)), m_plan(std::move(plan)), m_state(std::move(state)) {}
        int lookahead() const override { return m_inner->lookahead(); }
        Result<std::vector<std::uint8_t>, OpusFrameError>
        encodeFrame(std::span<const float> frame) override {
            {
                std::lock_guard guard(m_state->lock);
                ++m_state->frames;
            }
            const int index = m_frame++;
            if (m_plan.fate == EncoderPlan::Fate::failsAtFrame && index >= m_plan.frame)
                return fail(OpusFrameError::cannotEncode, m_plan.message);
            if (m_plan.fate == EncoderPlan::Fate::invalidPackets)
                return std::vector<std::uint8_t>{0x03, 0x00};
            return m_inner->encodeFrame(frame);
        }

    private:
        std::unique_ptr<OpusFrameEncoder> m_inner;
        EncoderPlan m_plan;
        std::shared_ptr<State> m_state;
        int m_frame = 0;
    };

    std::shared_ptr<State> m_state;
};

} // namespace talverin::test
