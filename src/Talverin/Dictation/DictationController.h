#pragma once

#include "Runtime/Future.h"
#include "Runtime/Task.h"
#include "Talverin/Dictation/BufferRouter.h"
#include "Talverin/Dictation/DictationLog.h"
#include "Talverin/Dictation/DictationSession.h"
#include "Talverin/Dictation/DictationTiming.h"
#include "Talverin/Dictation/Services.h"
#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/DictationMode.h"
#include "TalverinCore/HistoryItem.h"
#include "TalverinCore/InsertOutcome.h"
#include "TalverinCore/KeyCancelReason.h"
#include "TalverinCore/MicError.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireTryDictationResult.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

namespace talverin {

// Turns one press of the hold key into one dictation: it owns the current session and its
// phase, reacts to every key event, pill click and system suspend, starts the microphone, the
// live words, the context read and the pill, and hands a finished session to the completion.
//
// It lives on the main thread. Nothing it schedules is ever cancelled: every delayed block and
// every suspended flow re-checks, when it runs, that the phase still holds its very session
// (and, where it matters, that the session was not torn down), and otherwise returns quietly.
class DictationController {
public:
    using Timing = DictationTiming;
    using Session = DictationSession;
    using Phase = DictationPhase;
    // The record of one dictation that reached the inserter, whatever the inserter answered.
    struct Dictated {
        HistoryItem item;                   // its history entry
        Wire::TryDictationResult tryResult; // the same dictation as the try-it step shows it
    };

    explicit DictationController(std::shared_ptr<Services> services);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    // The shell's callbacks, set before start().
    // The user's current settings; read at every key-down and when a dictation completes.
    std::function<Settings()> settings = [] { return Settings(); };
    // Whether the settings popover is open.
    std::function<bool()> popoverShown = [] { return false; };
    // Closes the popover and gives the focus back to the application that had it; true when
    // the popover was open.
    std::function<bool()> closePopover = [] { return false; };
    // Whether the application that should receive the text is frontmost again.
    std::function<bool()> targetReady = [] { return true; };
    // True when a session's pill is first shown, false when a session ends.
    std::function<void(bool active)> onActive = [](bool) {};
    // One record per answer of the inserter.
    std::function<void(const Dictated& dictated)> onDictated = [](const Dictated&) {};
    // An inserted text and its field, for the correction watch.
    std::function<void(const std::string& text, const DictationContext& context)>
        onInsertedForLearning = [](const std::string&, const DictationContext&) {};
    // The microphone did not start.
    std::function<void(const MicError& error)> onMicFailed = [](const MicError&) {};
    // The phase left idle (true) or came back to it (false).
    std::function<void(bool busy)> onBusy = [](bool) {};
    // The onboarding's key test is on screen: presses are its own.
    std::function<bool()> keyTestShowing = [] { return false; };

    // Main thread, once, after the callbacks are set: installs the handlers on the services.
    void start();
    // Main thread. A click on the resting pill or its microphone button: from idle, a
    // dictation straight into hands-free.
    void clickedPill();
    // Main thread. "sleep", "user switched" or "screen locked": a listening dictation is
    // dropped with that reason; a finishing one goes on.
    void systemWillSuspend(const std::string& reason);
    // Main thread. Shows a result state and hides it after its hold time, unless the pill was
    // given anything else meanwhile.
    void showResult(const PillState& state, std::optional<Rect> frame);
    // Main thread. Inserts a text from the history again into the focused field, as it stands:
    // no text rules, no mode, no history record. It may run while a dictation is in progress.
    Future<InsertOutcome> insertAgain(std::string text);

    // Main thread. A dictation runs, from its press until it has finished; a muted secure
    // hold counts until its key is released.
    bool hasSession() const { return m_phase.kind != Phase::Kind::idle; }
    const Phase& phase() const { return m_phase; }
    // Main thread. A microphone stop has been requested and has not completed yet.
    bool isStoppingMic() const { return m_micEnding.has_value(); }

private:
    // Sessions go by value: a reference to the phase's own pointer would empty itself when the
    // phase moves on.
    using SessionRef = std::shared_ptr<Session>;

    // Key events and the other inputs.
    void pressed(double time);
    void released(double time);
    void cancelled(KeyCancelReason reason, double time);
    void doubleTapped();
    void stopHandsFree(const std::string& by);
    void enterHandsFree(SessionRef s);
    void scheduleHandsFreeTick(SessionRef s);
    void endMutedHold(SessionRef s, std::optional<double> releasedAt);
    Task<void> reportMutedRelease(double held, int sessionsBefore, Future<CapturedClip> clip,
                                  std::optional<Rect> frame);

    // Ending a session early, and the serialised microphone stop.
    void drop(SessionRef s, const std::string& reason, std::optional<PillState> showing);
    void teardown(SessionRef s);
    Future<CapturedClip> endMic(int postRollMs);
    Task<void> stopMic(std::optional<Future<Done>> previous, int postRollMs, int stopID,
                       Promise<CapturedClip> clip, Promise<Done> ended);

    // Session start and live feedback.
    void begin(double t);
    Task<void> startMic(SessionRef s, Future<Done> previousStop);
    void beginMic(SessionRef s);
    void showFirstPill(SessionRef s);
    void commit(SessionRef s);
    void waitForTarget(SessionRef s, double start, std::function<void()> then);
    void readContext(SessionRef s);
    void contextArrived(const DictationContext& context, int session, double took);
    void updatePill(SessionRef s, std::optional<Rect> frame);
    void livePartial(const std::string& text);
    void level(float level, int session);

    // The completion.
    void finish(SessionRef s, bool tap);
    Task<void> complete(SessionRef s, bool tap, double releasedAt,
                        std::optional<Future<CapturedClip>> ending);
    DictationLog startLog(SessionRef s, double releasedAt, double endSeconds,
                          const CapturedClip& clip, std::optional<double> firstTime) const;
    void endWithoutSpeech(SessionRef s, bool tap, const Settings& current, DictationLog log);
    void endAtSecureField(SessionRef s, bool tap, std::optional<Rect> frame, DictationLog log);
    Future<DictationContext> contextOf(SessionRef s);
    Task<void> awaitTarget();
    void done(SessionRef s, const DictationLog& log);
    Task<void> insertAgainFlow(std::string text, Promise<InsertOutcome> answer);

    // Recognition: what one dictation's text is, and where it came from.
    struct Recognized {
        enum class Source {
            cloud,
            draft, // the live draft's text, also when the language guard chose it
        };
        std::string text; // before trimming and the text rules
        std::string raw;  // the raw transcript, for the history
        Source source = Source::draft;
        std::optional<PillState> failure; // the dictation ends with this pill, inserting nothing
        std::optional<PillState> note;    // shown in place of the inserted state
        std::string cloud;                // the cloud's outcome for the log line
        std::optional<std::int64_t> cloudMs;
        std::optional<std::int64_t> serverMs;
        std::optional<std::int64_t> flushMs;
        std::optional<std::int64_t> draftMs;
    };
    Task<Recognized> recognize(SessionRef s, DictationContext context, DictationMode mode,
                               Settings settings);
    static Dictated dictated(const Recognized& recognized, const std::string& text,
                             const DictationContext& context, DictationMode mode,
                             const InsertOutcome& outcome, const DictationLog& log);

    // Helpers.
    void setPhase(Phase phase);
    // The phase is live, holds this very session, and the session was not torn down.
    bool isCurrent(SessionRef s) const;
    std::optional<Rect> screenOf(const std::optional<DictationContext>& context) const;
    void after(double seconds, std::function<void()> block);
    void spawn(Task<void> task);

    const std::shared_ptr<Services> m_services;
    const Timing m_timing;
    const std::shared_ptr<BufferRouter> m_router;

    Phase m_phase;
    int m_nextID = 0;
    int m_pillGeneration = 0;
    // Completes when the newest requested microphone stop has completed; none when no stop is
    // outstanding.
    std::optional<Future<Done>> m_micEnding;
    int m_micEndingID = 0;

    // The flows in flight. Destroying the controller destroys them where they wait.
    std::list<Task<void>> m_tasks;
    // Delayed blocks and posted callbacks hold this weakly and do nothing once it is gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace talverin
