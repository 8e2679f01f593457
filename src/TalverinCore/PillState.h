#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinCore/RefuseReason.h"

#include <optional>
#include <string>

namespace talverin {

// What the floating pill shows. The dictation controller makes one for every phase of a
// dictation, the shell for its own notices; the pill draws it and the controller's log names
// it. Two states are equal when they have the same kind and equal payloads, so a listening
// state whose level moved is a new state.
class PillState {
public:
    enum class Kind {
        hidden,
        listening,
        polishing,
        inserted,
        handsFree,
        voiceEdit,
        copied,
        learned,
        offline,
        silence,
        refused,
        limit,
    };

    // Nothing is shown.
    PillState() = default;

    static PillState hidden() { return PillState(); }
    // The key is held and the microphone records. The level is kept within 0...1, and a level
    // that is not a number reads as 0, so that a state always equals itself.
    static PillState listening(std::string liveText, float level);
    static PillState polishing() { return PillState(Kind::polishing); }
    static PillState inserted(std::string appName);
    // Hands-free dictation runs; `elapsed` in seconds. An elapsed time that is not a number
    // reads as 0, for the same reason as the level.
    static PillState handsFree(double elapsed, std::string liveText);
    static PillState voiceEdit(int selectionWords);
    static PillState copied() { return PillState(Kind::copied); }
    static PillState learned(std::string word);
    static PillState offline() { return PillState(Kind::offline); }
    static PillState silence() { return PillState(Kind::silence); }
    static PillState refused(RefuseReason reason);
    static PillState limit() { return PillState(Kind::limit); }

    Kind kind() const { return m_kind; }
    // True for the outcome states that are shown for a moment; false for the states that
    // last while a dictation runs, and for hidden.
    bool isTransient() const;

    // The payloads. Each answers for the states that carry it and is empty or 0 otherwise.
    const std::string& liveText() const { return m_text; }          // listening, handsFree
    float level() const { return m_level; }                         // listening
    const std::string& appName() const { return m_text; }           // inserted
    double elapsed() const { return m_elapsed; }                    // handsFree
    int selectionWords() const { return m_count; }                  // voiceEdit
    const std::string& word() const { return m_text; }              // learned
    std::optional<RefuseReason> reason() const { return m_reason; } // refused

    // Every factory leaves the payload fields it does not use at their defaults, so comparing
    // all fields compares the kind and exactly its payload.
    bool operator==(const PillState&) const = default;

private:
    explicit PillState(Kind kind) : m_kind(kind) {}

    Kind m_kind = Kind::hidden;
    std::string m_text;
    float m_level = 0;
    double m_elapsed = 0;
    int m_count = 0;
    std::optional<RefuseReason> m_reason;
};

template <> struct EnumTable<PillState::Kind> {
    using K = PillState::Kind;
    static constexpr auto entries = std::to_array<EnumEntry<K>>({
        {K::hidden, "hidden"},
        {K::listening, "listening"},
        {K::polishing, "polishing"},
        {K::inserted, "inserted"},
        {K::handsFree, "handsFree"},
        {K::voiceEdit, "voiceEdit"},
        {K::copied, "copied"},
        {K::learned, "learned"},
        {K::offline, "offline"},
        {K::silence, "silence"},
        {K::refused, "refused"},
        {K::limit, "limit"},
    });
};

} // namespace talverin
