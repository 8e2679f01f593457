#pragma once

#include "TalverinCloud/StreamingOpus.h"
#include "TalverinCore/ClipEncoding.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace talverin {

// One dictation's clip encoder as the controller sees it: every operation goes to its
// streaming Opus encoder, and the finish answers the bytes of the encoded clip.
class OpusStream final : public ClipEncoding {
public:
    explicit OpusStream(std::shared_ptr<StreamingOpus> stream) : m_stream(std::move(stream)) {}

    void append(const MicBuffer& buffer) override { m_stream->append(buffer); }
    std::vector<std::uint8_t> finish() override { return m_stream->finishClip().data; }
    void cancel() override { m_stream->cancel(); }

    const std::shared_ptr<StreamingOpus>& stream() const { return m_stream; }

private:
    std::shared_ptr<StreamingOpus> m_stream;
};

} // namespace talverin
