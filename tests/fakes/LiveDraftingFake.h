#pragma once

#include "TalverinCore/LiveDrafting.h"
#include "fakes/AnswerScript.h"
#include "fakes/CallLog.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// A live draft driven by the test, keeping the real one's promises:
// - live words reach onPartial on the main queue, and only while the session that produced
//   them is still the one delivering: a later start(), finish() or cancel() drops them;
// - start() replaces any previous session, and a finish() waiting for it returns;
// - cancel() drops the session, and a finish() waiting for it returns;
// - finish() answers within `finishCap`: a scripted draft that would come later loses to the
//   best partial (the session's last live words);
// - append() ignores blocks without samples and blocks after finish() or cancel().
// A finish() or cancel() that ends a session early answers with its last live words.
class LiveDraftingFake final : public LiveDrafting {
public:
    LiveDraftingFake() = default;
    ~LiveDraftingFake() override;

    CallLog log;
    // The drafts of the coming finish() calls; nothing scripted: the session's last live
    // words, at once.
    AnswerScript<std::string> finishAnswers;
    // The longest a finish() takes; infinity turns the cap off.
    double finishCap = 0.6;

    std::optional<std::string> confidentFinal() const override;
    void prewarm(const std::vector<std::string>& languages) override;
    void start(const std::vector<std::string>& languages,
               const std::vector<std::string>& contextualStrings) override;
    void append(const MicBuffer& buffer) override;
    Future<std::string> finish() override;
    void cancel() override;

    // The recogniser of the running session heard `text` (the whole draft so far), now or
    // after a delay. False when no session runs now.
    bool sendPartial(std::string text);
    bool sendPartialAfter(double seconds, std::string text);
    // What confidentFinal() answers until the next start() or cancel().
    void setConfidentFinal(std::optional<std::string> text);

    // The running session's number, 0 when none runs (a finishing session still runs).
    std::uint64_t session() const;
    std::size_t acceptedBlocks() const;
    std::size_t acceptedSamples() const;

private:
    void produce(std::uint64_t session, std::string text);
    void settle();     // with m_mutex held
    void endSession(); // with m_mutex held

    mutable std::mutex m_mutex;
    std::uint64_t m_generation = 0;
    std::uint64_t m_delivering = 0;
    std::uint64_t m_accepting = 0;
    std::uint64_t m_session = 0;
    std::string m_transcript;
    std::string m_lastDelivered;
    std::string m_lastResult;
    std::optional<std::string> m_confidentFinal;
    std::optional<Promise<std::string>> m_finish;
    std::size_t m_blocks = 0;
    std::size_t m_samples = 0;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace talverin::test
