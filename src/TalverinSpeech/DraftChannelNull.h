#pragma once

#include "TalverinSpeech/DraftChannel.h"
#include "TalverinSpeech/DraftEvent.h"

#include <functional>
#include <utility>

namespace talverin {

// A request that recognises nothing: its audio is dropped, and the end of the audio is
// answered at once with an empty final text, so a finishing draft does not wait for its cap.
// Nothing is reported after cancel().
class DraftChannelNull final : public DraftChannel {
public:
    explicit DraftChannelNull(std::function<void(DraftEvent)> onEvent)
        : m_onEvent(std::move(onEvent)) {}

    void append(const DraftPcmBuffer&) override {}
    void endAudio() override {
        if (auto report = std::exchange(m_onEvent, nullptr)) {
            report(DraftEvent::final({}, false));
        }
    }
    void cancel() override { m_onEvent = nullptr; }

private:
    std::function<void(DraftEvent)> m_onEvent;
};

} // namespace talverin
