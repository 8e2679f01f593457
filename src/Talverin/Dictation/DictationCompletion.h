#pragma once

#include "Runtime/Future.h"
#include "Runtime/Liveness.h"
#include "Runtime/Task.h"
#include "Talverin/Dictation/DictationLog.h"
#include "Talverin/Dictation/DictationPill.h"
#include "Talverin/Dictation/DictationOutcome.h"
#include "Talverin/Dictation/DictationRecognition.h"
#include "Talverin/Dictation/DictationSession.h"
#include "Talverin/Dictation/DictationShell.h"
#include "Talverin/Dictation/DictationTiming.h"
#include "Talverin/Dictation/Services.h"
#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/InsertOutcome.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talverin {

// Completes a dictation that stopped listening and whose clip is in hand: the context, the
// mode, the text, the insertion, the result pill, the records for the shell and the log line.
// It also inserts a history text again. The controller owns the phases; it hands a finished
// session over and hears back when the session has ended. Main thread.
class DictationCompletion {
public:
    using SessionRef = std::shared_ptr<DictationSession>;

    // A session whose microphone has stopped, as the controller hands it over.
    struct Finished {
        SessionRef session;
        SessionEnd end = SessionEnd::listened;
        Settings settings; // read when the session stopped listening
        CapturedClip clip = CapturedClip::empty();
        double releasedAt = 0;                // uptime when the session stopped listening
        double endSeconds = 0;                // from then until the clip was in hand
        std::optional<double> firstAudioTime; // uptime of the first microphone block
    };

    DictationCompletion(std::shared_ptr<Services> services, DictationShell& shell,
                        DictationPill& pill, DictationTiming timing);
    DictationCompletion(const DictationCompletion&) = delete;
    DictationCompletion& operator=(const DictationCompletion&) = delete;

    // The controller's one-time commit step of a session, which also closes the popover.
    std::function<void(SessionRef session)> commit = [](SessionRef) {};
    // The session has ended: the phase no longer holds it.
    std::function<void(SessionRef session)> onEnded = [](SessionRef) {};

    Task<void> complete(Finished finished);
    // Inserts a text from the history as it stands: no text rules, no mode, no record.
    Task<void> insertAgain(std::string text, Promise<InsertOutcome> answer);

private:
    using Recognized = DictationRecognition::Recognized;

    static DictationLog startLog(const Finished& finished);
    void endWithoutSpeech(const Finished& finished, DictationLog log);
    void endAtSecureField(SessionRef s, SessionEnd end, std::optional<Rect> frame,
                          DictationLog log);
    void refuseEmpty(SessionRef s, const Recognized& recognized, std::optional<Rect> frame,
                     DictationLog log);
    void showFailure(const PillState& state, std::optional<Rect> frame, DictationLog& log);
    void refuse(RefuseReason reason, std::optional<Rect> frame, DictationLog& log);
    void showPolishing(DictationSession& s, std::optional<Rect> frame);
    void stopListeningTo(DictationSession& s);
    void hideIfShown(const DictationSession& s);
    PillState answerInserted(const InsertOutcome& outcome, const Recognized& recognized,
                             const DictationContext& context, DictationMode mode,
                             const std::string& inserted, const Settings& settings,
                             DictationLog& log);
    Future<DictationContext> contextOf(SessionRef s);
    Task<void> awaitTarget();
    void done(SessionRef s, const DictationLog& log);
    static DictationRecord recordOf(const Recognized& recognized, const std::string& text,
                                    const DictationContext& context, DictationMode mode,
                                    const InsertOutcome& outcome, const DictationLog& log);

    const std::shared_ptr<Services> m_services;
    DictationShell& m_shell;
    DictationPill& m_pill;
    const DictationTiming m_timing;
    DictationRecognition m_recognition;
    Liveness m_alive;
};

} // namespace talverin
