#pragma once

#include "Runtime/Future.h"
#include "Runtime/Liveness.h"
#include "Runtime/Task.h"
#include "Talverin/Dictation/BufferRouter.h"
#include "Talverin/Dictation/DictationCompletion.h"
#include "Talverin/Dictation/DictationPill.h"
#include "Talverin/Dictation/DropReason.h"
#include "Talverin/Dictation/HandsFreeStop.h"
#include "Talverin/Dictation/DictationSession.h"
#include "Talverin/Dictation/DictationShell.h"
#include "Talverin/Dictation/DictationTiming.h"
#include "Talverin/Dictation/Services.h"
#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/InsertOutcome.h"
#include "TalverinCore/KeyCancelReason.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/ScreenGeometry.h"

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
class DictationController : public DictationShell {
public:
    using Timing = DictationTiming;
    using Session = DictationSession;
    using Phase = DictationPhase;
    using Dictated = DictationRecord;

    explicit DictationController(std::shared_ptr<Services> services);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    // Main thread, once, after the callbacks are set: installs the handlers on the services.
    void start();
    // Main thread. A click on the resting pill or its microphone button: from idle, a
    // dictation straight into hands-free.
    void clickedPill();
    // Main thread. The system sleeps, switches user or locks the screen: a listening dictation
    // is dropped with that reason; a finishing one goes on.
    void systemWillSuspend(SuspendReason reason);
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
    void stopHandsFree(HandsFreeStop by);
    void enterHandsFree(SessionRef s);
    void scheduleHandsFreeTick(SessionRef s);
    void endMutedHold(SessionRef s, std::optional<double> releasedAt);
    Task<void> reportMutedRelease(double held, int sessionsBefore, Future<CapturedClip> clip,
                                  std::optional<Rect> frame);

    // Ending a session early, and the serialised microphone stop.
    void drop(SessionRef s, CancelCause cause, std::optional<PillState> showing);
    static void logCancelled(CancelCause cause, const Session& s);
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

    // Stopping to listen, and handing the finished session to the completion.
    void finish(SessionRef s, SessionEnd end);
    Task<void> complete(SessionRef s, SessionEnd end, double releasedAt,
                        std::optional<Future<CapturedClip>> ending);
    void restoreDucking(Session& s);
    void ended(SessionRef s);

    // Helpers.
    void setPhase(Phase phase);
    // The phase is live, holds this very session, and the session was not torn down.
    bool isCurrent(SessionRef s) const;
    void after(double seconds, std::function<void()> block);
    void spawn(Task<void> task);

    const std::shared_ptr<Services> m_services;
    const Timing m_timing;
    const std::shared_ptr<BufferRouter> m_router;
    DictationPill m_pill;
    DictationCompletion m_completion;

    Phase m_phase;
    int m_nextID = 0;
    // Completes when the newest requested microphone stop has completed; none when no stop is
    // outstanding.
    std::optional<Future<Done>> m_micEnding;
    int m_micEndingID = 0;

    // The flows in flight. Destroying the controller destroys them where they wait.
    std::list<Task<void>> m_tasks;
    // Delayed blocks and posted callbacks hold a token of it and do nothing once it has ended.
    Liveness m_alive;
};

} // namespace talverin
