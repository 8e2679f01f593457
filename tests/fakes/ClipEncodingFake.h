#pragma once

#include "TalverinCore/ClipEncoding.h"
#include "fakes/CallLog.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace talverin::test {

// A streaming encoder that counts what it is given. Blocks arrive on the audio queue while the
// main thread cancels, so its counters sit behind a lock. Its clip is one byte per block.
class ClipEncodingFake final : public ClipEncoding {
public:
    CallLog log; // finish and cancel; appends are only counted

    void append(const MicBuffer& buffer) override;
    std::vector<std::uint8_t> finish() override;
    void cancel() override;

    std::size_t appendedBlocks() const;
    // Blocks appended after cancel() or finish(): none should come.
    std::size_t lateBlocks() const;
    bool isCancelled() const;

private:
    mutable std::mutex m_mutex;
    std::size_t m_blocks = 0;
    std::size_t m_late = 0;
    bool m_cancelled = false;
    bool m_finished = false;
};

} // namespace talverin::test
