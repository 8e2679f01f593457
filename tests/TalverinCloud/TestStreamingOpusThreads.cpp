// labels: tsan
#include "TalverinCloud/StreamingOpus.h"

#include "OpusTestSupport.h"
#include "support/LogLines.h"
#include "Runtime/ThreadQueues.h"
#include "TalverinCloud/OggOpus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace talverin {
namespace {

// The application's threading without a main loop: each serial queue is a thread of its own.
class QueueThreadsLoop final : public EventLoop {
public:
    QueueThreadsLoop() : m_previous(Runtime::install(this)) {}
    ~QueueThreadsLoop() override { Runtime::install(m_previous); }

    void post(Job) override { ADD_FAILURE() << "the streaming encoder posted to the main queue"; }
    void after(double, Job) override { ADD_FAILURE() << "the streaming encoder set a timer"; }
    bool isMainThread() const override { return false; }
    double uptime() const override { return seconds(std::chrono::steady_clock::now()); }
    double continuous() const override { return uptime(); }
    WallTime now() const override { return std::chrono::system_clock::now(); }
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override {
        return std::make_unique<ThreadSerialQueue>(std::move(label));
    }
    void runOnWorker(Job) override { ADD_FAILURE() << "the streaming encoder used a worker"; }

private:
    static double seconds(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(t.time_since_epoch()).count();
    }
    EventLoop* m_previous;
};

TEST(StreamingOpusThreads, BlocksFromTheAudioThreadFinishedFromAnotherLoseNothing) {
    QueueThreadsLoop loop;
    test::LogLines log;
    const auto samples = test::speechLike(200 * 256, 11);
    StreamingOpus stream(31337, true);

    std::atomic<bool> appended{false};
    std::thread audio([&] {
        // Half the blocks come as the microphone hands them over, half as plain samples.
        for (std::size_t block = 0; block < 200; ++block) {
            const auto part = std::span(samples).subspan(block * 256, 256);
            if (block % 2 == 0)
                stream.append(MicBuffer({part.begin(), part.end()}, 0.5f, 0));
            else
                stream.append(part);
        }
        appended.store(true);
    });
    EncodedClip clip;
    std::thread session([&] {
        while (!appended.load())
            std::this_thread::yield();
        clip = stream.finishClip();
    });
    audio.join();
    session.join();

    EXPECT_EQ(stream.sampleCount(), static_cast<std::int64_t>(samples.size()));
    EXPECT_EQ(clip.mime, "audio/ogg");
    EXPECT_EQ(clip.data, OggOpus::encode(samples, 31337).value());
    EXPECT_EQ(log.containing("(streamed)").size(), 1u);
}

TEST(StreamingOpusThreads, CancelFromTheSessionWhileBlocksArrive) {
    QueueThreadsLoop loop;
    test::LogLines log;
    const auto samples = test::speechLike(100 * 320, 12);
    StreamingOpus stream(4, true);
    std::atomic<int> sent{0};
    std::thread audio([&] {
        for (std::size_t block = 0; block < 100; ++block) {
            stream.append(std::span(samples).subspan(block * 320, 320));
            sent.store(static_cast<int>(block + 1));
        }
    });
    while (sent.load() < 20)
        std::this_thread::yield();
    stream.cancel();
    const EncodedClip clip = stream.finishClip();
    audio.join();
    EXPECT_EQ(clip, (EncodedClip{OggOpus::wav({}), "audio/wav", 0}));
    EXPECT_EQ(log.containing("(cancelled)").size(), 1u);
}

} // namespace
} // namespace talverin
