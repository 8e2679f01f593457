#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace talverin {

// Says when the program itself is posting synthetic input. The key tap hears the program's
// own paste chord and typed keys from the same virtual device as any other synthetic input,
// so it drops such events only while this mark is set; synthetic keys from anyone else (a
// test driver, an on-screen keyboard) still count. The application makes one and hands it to
// the poster and to the key tap.
class SyntheticInput {
public:
    // How long the mark outlives the end of a batch: the events of the batch are on their
    // way to the tap's own connection, which reads them a moment later.
    static constexpr double defaultGrace = 0.25;

    explicit SyntheticInput(double grace = defaultGrace);

    // Any thread. Before the first event of a batch; batches may overlap.
    void beginPosting();
    // Any thread. After the batch was flushed and synced with the server: the mark stays for
    // the grace period after the last batch ends.
    void endPosting();
    // Any thread.
    bool isPosting() const;

    // Marks a batch for the lifetime of the object.
    class Batch {
    public:
        explicit Batch(SyntheticInput& input) : m_input(input) { m_input.beginPosting(); }
        ~Batch() { m_input.endPosting(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        SyntheticInput& m_input;
    };

private:
    using Instant = std::chrono::steady_clock::time_point;

    const std::chrono::steady_clock::duration m_grace;
    mutable std::mutex m_mutex;
    std::int64_t m_open = 0;
    Instant m_until{};
};

} // namespace talverin
