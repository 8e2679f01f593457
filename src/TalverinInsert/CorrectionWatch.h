#pragma once

#include "TalverinCore/DictationContext.h"
#include "TalverinCore/Replacement.h"
#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/SecureInput.h"
#include "TalverinInsert/Ticking.h"
#include "Runtime/Liveness.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talverin {

class AXElementBox;
class AXSession;

// Follows a dictated text in its field for up to a minute and reports when the user has
// replaced exactly one word of it and left it so for a second. It only reads the field, a few
// times a second, and only while the same element keeps the focus and the text around the span
// stays as it was. Main thread, except `sample`.
class CorrectionWatch {
public:
    // One reading of the watched span; lengths in UTF-16 units.
    struct CorrectionSample {
        std::string text;
        std::string prefix; // up to 12 units before the span
        std::string suffix; // up to 12 units after it
        std::int64_t tailLength = 0;

        bool operator==(const CorrectionSample&) const = default;
    };

    // One reading as the loop takes it: the span, or nothing when the field can no longer be
    // followed. `unanswered` says the application did not answer in time, which tells nothing
    // about the field: a busy application is not a user who left it.
    struct Reading {
        std::optional<CorrectionSample> sample;
        bool unanswered = false;
    };

    // Receives the newest correction; nothing withdraws an earlier report.
    using ChangeCallback = std::function<void(std::optional<Replacement>)>;
    // Answers a reading; may be called on any thread, once.
    using SampleDone = std::function<void(Reading)>;
    // Starts a reading given the tail (nothing before the first matching reading).
    using Reader = std::function<void(std::optional<std::int64_t> tail, SampleDone done)>;

    static constexpr double firstInterval = 0.08;
    static constexpr double interval = 0.3;
    static constexpr double firstWait = 1;
    static constexpr double settle = 1;
    static constexpr double lifetime = 60;
    static constexpr std::int64_t maxInserted = 2048;
    static constexpr std::int64_t maxSpan = 2112;
    static constexpr std::int64_t aroundLength = 12;
    static constexpr int sampleTimeoutMs = 75;
    static constexpr double sampleBudget = 0.2;

    // `isTrusted` answers at once whether other applications may be read; `ownPid` is this
    // process, whose own fields are never watched.
    CorrectionWatch(AccessibilityBackend& backend, SecureInput& secureInput,
                    std::function<bool()> isTrusted, std::int32_t ownPid,
                    Ticking ticking = Ticking::system());
    ~CorrectionWatch();
    CorrectionWatch(const CorrectionWatch&) = delete;
    CorrectionWatch& operator=(const CorrectionWatch&) = delete;

    void watch(const std::string& text, const DictationContext& context, ChangeCallback onChange);
    // Ends the current watch and hands on a correction not reported yet, when it has settled.
    void stop();
    void track(const std::string& text, Reader read, ChangeCallback onChange);

    // Any thread but the main one: blocks for up to the sample budget.
    std::optional<CorrectionSample> sample(const std::optional<ElementToken>& token,
                                           std::int64_t start, std::int64_t insertedLength,
                                           std::optional<std::int64_t> tail);

private:
    struct Loop;
    struct Sampler;

    void next(const std::shared_ptr<Loop>& loop);
    void step(const std::shared_ptr<Loop>& loop, Reading reading);
    void end(const std::shared_ptr<Loop>& loop);
    static void flush(Loop& loop);
    static Reading sampleWith(Sampler& sampler, const std::optional<ElementToken>& token,
                              std::int64_t start, std::int64_t insertedLength,
                              std::optional<std::int64_t> tail);
    static std::optional<CorrectionSample>
    readSpan(Sampler& sampler, AXSession& session, const AXElementBox& box, std::int64_t start,
             std::int64_t insertedLength, std::optional<std::int64_t> tail);

    std::shared_ptr<Sampler> m_sampler;
    std::int32_t m_ownPid;
    std::uint64_t m_generation = 0;
    std::function<void()> m_flush;
    Liveness m_alive;
};

} // namespace talverin
