#pragma once

#include "TalverinCore/PillState.h"
#include "TalverinPill/PillLang.h"
#include "TalverinPill/PillMeasure.h"

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// What the pill shows for one state: its leading mark, the live words or a label, the timer
// and stop button of hands-free dictation, its width, what a screen reader announces and the
// pill's accessible label. Two faces with the same key are the same content, updated in place;
// a new key is new content.
struct PillFace {
    enum class Tone { neutral, accent, warn };

    // The leading mark.
    class Mark {
    public:
        enum class Kind { symbol, bars, dots, check, recording };

        // A named symbol glyph ("pencil", "lock") in a tone.
        static Mark symbol(std::string name, Tone tone) {
            return Mark(Kind::symbol, std::move(name), tone);
        }
        static Mark bars() { return Mark(Kind::bars, "", Tone::neutral); }
        static Mark dots() { return Mark(Kind::dots, "", Tone::neutral); }
        static Mark check() { return Mark(Kind::check, "", Tone::neutral); }
        static Mark recording() { return Mark(Kind::recording, "", Tone::neutral); }

        Kind kind() const { return m_kind; }
        const std::string& name() const { return m_name; } // a symbol's; empty otherwise
        Tone tone() const { return m_tone; }               // a symbol's; neutral otherwise

        bool operator==(const Mark&) const = default;

    private:
        Mark(Kind kind, std::string name, Tone tone)
            : m_kind(kind), m_name(std::move(name)), m_tone(tone) {}

        Kind m_kind;
        std::string m_name;
        Tone m_tone;
    };

    // Live words with the text shown while there are none, or a title with an optional detail.
    class Text {
    public:
        enum class Kind { live, label };

        static Text live(std::string text, std::string placeholder) {
            return Text(Kind::live, std::move(text), std::move(placeholder), std::nullopt, false);
        }
        static Text label(std::string title, std::optional<std::string> detail, bool accentDetail) {
            return Text(Kind::label, std::move(title), "", std::move(detail), accentDetail);
        }

        Kind kind() const { return m_kind; }
        const std::string& liveText() const { return m_text; }                // live
        const std::string& placeholder() const { return m_extra; }            // live
        const std::string& title() const { return m_text; }                   // label
        const std::optional<std::string>& detail() const { return m_detail; } // label
        bool accentDetail() const { return m_accentDetail; }                  // label

        bool operator==(const Text&) const = default;

    private:
        Text(Kind kind, std::string text, std::string extra, std::optional<std::string> detail,
             bool accentDetail)
            : m_kind(kind), m_text(std::move(text)), m_extra(std::move(extra)),
              m_detail(std::move(detail)), m_accentDetail(accentDetail) {}

        Kind m_kind;
        std::string m_text;
        std::string m_extra;
        std::optional<std::string> m_detail;
        bool m_accentDetail;
    };

    PillState::Kind kind = PillState::Kind::hidden;
    std::string key;
    Mark mark = Mark::check();
    Text text = Text::label("", std::nullopt, false);
    std::optional<std::string> timer;
    std::optional<std::string> stopLabel; // present: the pill has a stop button
    double width = 0;
    std::optional<std::string> announcement;
    std::string accessibilityLabel;

    bool stop() const { return stopLabel.has_value(); }
    // The room left for the live words: none for a label, never below 0.
    std::optional<double> liveWidth(const PillMeasure& measure) const;

    // The face of a state in a language; none for hidden. The microphone name reaches only
    // the silence state. Widths are measured with `measure`.
    static std::optional<PillFace> make(const PillState& state, PillLang lang,
                                        const std::optional<std::string>& microphone,
                                        const PillMeasure& measure);

    static double markWidth(const Mark& mark);
    // The mark with its leading padding and the gap after it.
    static double leadWidth(const Mark& mark);
    // The pill width for a label: even, within the pill's minimum and maximum.
    static double labelWidth(const Mark& mark, std::string_view title,
                             const std::optional<std::string>& detail, const PillMeasure& measure);

    bool operator==(const PillFace&) const = default;
};

} // namespace talverin
