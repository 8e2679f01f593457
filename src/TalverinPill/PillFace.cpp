#include "TalverinPill/PillFace.h"

#include "Runtime/Unicode.h"
#include "TalverinPill/PillCopy.h"
#include "TalverinPill/PillLayout.h"

#include <algorithm>
#include <cmath>

namespace talverin {
namespace {

using Mark = PillFace::Mark;
using Text = PillFace::Text;
using Tone = PillFace::Tone;

std::string withDetail(std::string_view title, const std::optional<std::string>& detail) {
    std::string label(title);
    if (detail)
        label += ", " + *detail;
    return label;
}

// A state shown as a title with an optional detail; every such state announces itself.
PillFace labelFace(const PillState& state, const PillCopy& copy,
                   const std::optional<std::string>& microphone, const PillMeasure& measure,
                   std::string key, Mark mark, std::string_view title,
                   std::optional<std::string> detail, bool accentDetail = false) {
    PillFace face;
    face.kind = state.kind();
    face.key = std::move(key);
    face.width = PillFace::labelWidth(mark, title, detail, measure);
    face.mark = std::move(mark);
    face.accessibilityLabel = withDetail(title, detail);
    face.text = Text::label(std::string(title), std::move(detail), accentDetail);
    face.announcement = copy.announcement(state, microphone);
    return face;
}

std::string textOf(std::string_view text) {
    return std::string(text);
}

// A state that shows the live words; a screen reader is not interrupted by these.
PillFace liveFace(const PillState& state, const PillCopy& copy, std::string key, Mark mark) {
    PillFace face;
    face.kind = state.kind();
    face.key = std::move(key);
    face.mark = std::move(mark);
    face.text = Text::live(state.liveText(), textOf(copy.listening()));
    return face;
}

} // namespace

double PillFace::markWidth(const Mark& mark) {
    switch (mark.kind()) {
    case Mark::Kind::bars:
        return 39;
    case Mark::Kind::dots:
        return 23;
    case Mark::Kind::check:
    case Mark::Kind::symbol:
        return 24;
    case Mark::Kind::recording:
        return 16;
    }
    return 24;
}

double PillFace::leadWidth(const Mark& mark) {
    return PillLayout::padLead + markWidth(mark) + PillLayout::gap;
}

double PillFace::labelWidth(const Mark& mark, std::string_view title,
                            const std::optional<std::string>& detail, const PillMeasure& measure) {
    using namespace PillLayout;
    double width = leadWidth(mark);
    // Each text is rounded up on its own, as it is drawn: two widths with fractions could
    // otherwise sum to a pill one point too narrow for them.
    if (!title.empty())
        width += std::ceil(measure(title, textSize, titleWeight, false));
    if (detail && !detail->empty())
        width += std::ceil(measure(*detail, textSize, detailWeight, false)) + detailGap;
    return pillWidth(width + padTrail);
}

std::optional<double> PillFace::liveWidth(const PillMeasure& measure) const {
    if (text.kind() != Text::Kind::live)
        return std::nullopt;
    double taken = leadWidth(mark);
    if (timer)
        taken += PillLayout::timerWidth(measure) + PillLayout::gap;
    taken +=
        stop() ? PillLayout::padStop + PillLayout::stopHit + PillLayout::gap : PillLayout::padTrail;
    return std::max(0.0, width - taken);
}

std::optional<PillFace> PillFace::make(const PillState& state, PillLang lang,
                                       const std::optional<std::string>& microphone,
                                       const PillMeasure& measure) {
    const PillCopy copy(lang);
    using Kind = PillState::Kind;
    auto label = [&](std::string key, Mark mark, std::string_view title,
                     std::optional<std::string> detail, bool accentDetail = false) {
        return labelFace(state, copy, microphone, measure, std::move(key), std::move(mark), title,
                         std::move(detail), accentDetail);
    };
    switch (state.kind()) {
    case Kind::hidden:
        return std::nullopt;
    case Kind::listening: {
        PillFace face = liveFace(state, copy, "listening", Mark::bars());
        face.width = PillLayout::listeningWidth;
        face.accessibilityLabel = textOf(copy.listening());
        return face;
    }
    case Kind::handsFree: {
        PillFace face = liveFace(state, copy, "handsFree", Mark::recording());
        face.timer = PillCopy::timer(state.elapsed());
        face.stopLabel = textOf(copy.stop());
        face.width = PillLayout::handsFreeWidth;
        face.accessibilityLabel = withDetail(copy.handsFree(), face.timer);
        return face;
    }
    case Kind::polishing:
        return label("polishing", Mark::dots(), copy.polishing(), std::nullopt);
    case Kind::inserted:
        return label("inserted", Mark::check(), copy.inserted(), textOf(copy.undoHint()));
    case Kind::voiceEdit: {
        const int words = state.selectionWords();
        return label("voiceEdit." + std::to_string(words), Mark::symbol("pencil", Tone::accent),
                     copy.voiceEdit(), copy.selected(words));
    }
    case Kind::copied:
        return label("copied", Mark::symbol("doc.on.clipboard", Tone::neutral), copy.copied(),
                     textOf(copy.pasteHint()));
    case Kind::learned: {
        std::string word = Unicode::trimWhitespaceAndNewlines(state.word());
        std::optional<std::string> detail;
        if (!word.empty())
            detail = word;
        return label("learned." + word, Mark::symbol("sparkles", Tone::accent), copy.learned(),
                     std::move(detail), true);
    }
    case Kind::offline:
        return label("offline", Mark::symbol("wifi.slash", Tone::neutral), copy.offline(),
                     textOf(copy.offlineDetail()));
    case Kind::silence: {
        std::string detail = copy.silenceDetail(microphone);
        return label("silence." + detail, Mark::symbol("mic.slash", Tone::warn), copy.silence(),
                     detail);
    }
    case Kind::refused: {
        const RefuseReason reason = state.reason().value_or(RefuseReason::empty);
        PillCopy::Refusal refusal = copy.refused(reason);
        const char* symbol = reason == RefuseReason::secureField ? "lock" : "exclamationmark";
        return label("refused." + std::string(toString(reason)), Mark::symbol(symbol, Tone::warn),
                     refusal.title, std::move(refusal.detail));
    }
    case Kind::limit:
        return label("limit", Mark::symbol("hourglass", Tone::warn), copy.limit(), std::nullopt);
    }
    return std::nullopt;
}

} // namespace talverin
