#pragma once

#include "Runtime/Liveness.h"
#include "Runtime/SerialQueue.h"
#include "TalverinCore/LiveDrafting.h"
#include "TalverinSpeech/DraftEngineProviding.h"
#include "TalverinSpeech/DraftTranscript.h"
#include "TalverinSpeech/DraftTuning.h"
#include "TalverinSpeech/SpeechRecognizers.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// On-device recognition of every dictation: live words for the pill while the user speaks,
// and on release a draft within `finishCap`. Long dictations are recognised in segments of
// at most `hardRotate` seconds of audio, merged into one transcript.
//
// Three places meet here: the microphone's audio thread (append), the main thread (start,
// finish, cancel, confidentFinal, onPartial) and the recognisers' result queue (events). The
// gate is the only state they share, each time briefly under its lock; everything else lives
// on the live draft's own serial queue, and every event hops there before it touches a
// session. Ids grow at every start and cancel; blocks, events, delayed checks and deliveries
// carry the id they belong to and do nothing once it is stale.
class LiveDraft final : public LiveDrafting {
public:
    // The live draft over the machine's recognisers, with the standard tuning and its own queue.
    explicit LiveDraft(std::shared_ptr<SpeechRecognizers> recognizers);
    LiveDraft(std::unique_ptr<DraftEngineProviding> provider, DraftTuning tuning,
              std::unique_ptr<SerialQueue> queue);
    // Main thread. A waiting finish() gets the transcript so far; the recognition tasks that
    // are still running are cancelled.
    ~LiveDraft() override;
    LiveDraft(const LiveDraft&) = delete;
    LiveDraft& operator=(const LiveDraft&) = delete;

    std::optional<std::string> confidentFinal() const override;
    void prewarm(const std::vector<std::string>& languages) override;
    void start(const std::vector<std::string>& languages,
               const std::vector<std::string>& contextualStrings) override;
    void append(const MicBuffer& buffer) override;
    Future<std::string> finish() override;
    void cancel() override;

private:
    struct Gate {
        // Counts start and cancel calls; a session's id is the generation of its start.
        std::uint64_t generation = 0;
        // The session whose live words may reach onPartial; 0 for none.
        std::uint64_t delivering = 0;
        // The session whose audio may be queued; 0 for none.
        std::uint64_t accepting = 0;
        std::optional<std::string> confidentFinal;
        // The live draft is going away: queued jobs do nothing.
        bool closed = false;
    };
    struct Segment;
    struct Session;
    enum class Outcome { final, timedOut, cancelled, replaced };

    // Everything below runs on the queue.
    void open(std::uint64_t id, const std::vector<std::string>& languages,
              const std::vector<std::string>& words, double startedAt);
    void startSegment(Session& session);
    void feed(std::uint64_t id, const MicBuffer& block);
    void rotate(Session& session);
    void dropStaleSegment(std::uint64_t id, std::size_t index);
    void handle(std::uint64_t id, std::size_t index, const DraftEvent& event);
    void restartAfterSelfEnd(Session& session, const Segment& segment);
    void deliver(Session& session);
    void finishSession(Promise<std::string> waiter);
    void endSession(Outcome outcome);
    // Stops the session's tasks that still run; answers the transcript text.
    std::string stopTasks(Session& session);
    void closeAccepting(std::uint64_t id);
    bool isClosed() const;

    mutable std::mutex m_gateMutex;
    Gate m_gate;
    std::unique_ptr<DraftEngineProviding> m_provider;
    DraftTuning m_tuning;
    std::unique_ptr<Session> m_session;
    // The draft of the last session that ended with one; what finish() answers without a
    // session.
    std::string m_lastResult;
    Liveness m_alive;
    std::unique_ptr<SerialQueue> m_queue;
};

} // namespace talverin
