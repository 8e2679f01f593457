#pragma once

#include "Runtime/Future.h"
#include "TalverinCore/ClipEncoding.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinCore/Settings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One dictation, from its press until its completion has ended. The controller compares
// sessions by identity: a delayed block or a suspended flow holds its session and goes on only
// while the controller's phase still holds that very object.
class DictationSession {
public:
    DictationSession(int id, double t0, Settings settings)
        : id(id), t0(t0), settings(std::move(settings)) {}
    DictationSession(const DictationSession&) = delete;
    DictationSession& operator=(const DictationSession&) = delete;

    const int id;            // the session number, from 1
    const double t0;         // uptime of the key-down event, or of the pill click
    const Settings settings; // the settings snapshot taken when the session began

    bool handsFree = false;
    std::optional<double> handsFreeStart;
    bool isTap = false;       // finishing as a tap
    bool decided = false;     // its clip is in and it goes on; a press no longer supersedes it
    bool popoverOpen = false; // the settings popover was open when it began
    bool committed = false;   // the one-time commit step has run
    bool contextStarted = false;
    bool secure = false; // muted: a secure field found while held, before the pill
    bool blind = false;  // secure event input was on when it began
    bool pillShown = false;
    std::optional<double> pillAt;
    bool ducked = false;
    bool cancelled = false; // torn down: every later step of it stops
    std::shared_ptr<ClipEncoding> encoder;
    std::string liveText;
    float level = 0;
    std::optional<std::int64_t> contextMs;
    std::optional<DictationContext> context;
    bool contextResolved = false;
    // Flows waiting for the context, resumed in order when it is settled.
    std::vector<Promise<DictationContext>> waiters;

    // Settles the context once: a later call changes nothing. Every waiter gets the context,
    // or DictationContext::unknown() when it was given up.
    void setContext(std::optional<DictationContext> value);
    // A known context with selected text: the spoken words are an instruction for it.
    bool isVoiceEdit() const { return context && !context->selection.empty(); }
};

// How a session stopped listening: as a tap that no second press followed, or as a hold
// released or a hands-free dictation stopped. A tap keeps no post-roll and ends without a word
// when it heard nothing.
enum class SessionEnd {
    tap,
    listened,
};

// Where the controller stands. The three live kinds (holding, tapWait, handsFree) listen;
// finishing makes and inserts the text.
struct DictationPhase {
    enum class Kind {
        idle,
        holding,   // the hold key is down
        tapWait,   // a short press was released; a second tap may follow
        handsFree, // dictating without holding the key
        finishing, // the microphone is stopped or the text is made and inserted
    };

    Kind kind = Kind::idle;
    std::shared_ptr<DictationSession> session; // none exactly when idle

    static DictationPhase idle() { return {}; }
    bool isLive() const {
        return kind == Kind::holding || kind == Kind::tapWait || kind == Kind::handsFree;
    }
    // The phase holds this very session (identity, not equality).
    bool holds(const std::shared_ptr<DictationSession>& s) const {
        return kind != Kind::idle && session == s;
    }
};

template <> struct EnumTable<DictationPhase::Kind> {
    using K = DictationPhase::Kind;
    static constexpr auto entries = std::to_array<EnumEntry<K>>({
        {K::idle, "idle"},
        {K::holding, "holding"},
        {K::tapWait, "tapWait"},
        {K::handsFree, "handsFree"},
        {K::finishing, "finishing"},
    });
};

} // namespace talverin
