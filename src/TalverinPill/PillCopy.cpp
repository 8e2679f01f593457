#include "TalverinPill/PillCopy.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

// A modifier by the name on its key cap here: Option is Alt, Command is Super.
struct ModifierName {
    std::string_view name;
    std::string_view sideEn; // "right" or "left"
    std::string_view sideRu; // "правый" or "левый"
};

std::optional<ModifierName> modifierName(HoldKey key) {
    constexpr std::string_view alt = "Alt", super = "Super", ctrl = "Ctrl", shift = "Shift";
    constexpr std::string_view right = "right", left = "left";
    constexpr std::string_view rightRu = "правый", leftRu = "левый";
    switch (key) {
    case HoldKey::rightOption:
        return ModifierName{alt, right, rightRu};
    case HoldKey::leftOption:
        return ModifierName{alt, left, leftRu};
    case HoldKey::rightCommand:
        return ModifierName{super, right, rightRu};
    case HoldKey::leftCommand:
        return ModifierName{super, left, leftRu};
    case HoldKey::rightControl:
        return ModifierName{ctrl, right, rightRu};
    case HoldKey::leftControl:
        return ModifierName{ctrl, left, leftRu};
    case HoldKey::rightShift:
        return ModifierName{shift, right, rightRu};
    case HoldKey::leftShift:
        return ModifierName{shift, left, leftRu};
    default:
        return std::nullopt;
    }
}

std::string joined(std::string_view first, std::string_view separator, std::string_view second) {
    std::string text(first);
    text += separator;
    text += second;
    return text;
}

} // namespace

std::string PillCopy::keyName(HoldKey key, PillLang lang) {
    if (key == HoldKey::fn)
        return "fn";
    // Both languages put the side first, as they say it: "Hold right Alt", "Держите правый Alt".
    if (const auto modifier = modifierName(key))
        return joined(lang == PillLang::ru ? modifier->sideRu : modifier->sideEn, " ",
                      modifier->name);
    // The function keys: their raw names are "f13" ... "f20", all ASCII.
    std::string name(toString(key));
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

std::optional<std::string> PillCopy::selected(std::int64_t count) const {
    if (count < 1)
        return std::nullopt;
    const std::string number = std::to_string(count);
    if (m_lang == PillLang::ru)
        return "выделено " + number + " " +
               std::string(russianPlural(count, "слово", "слова", "слов"));
    return count == 1 ? "1 word selected" : number + " words selected";
}

std::string_view PillCopy::russianPlural(std::int64_t n, std::string_view one, std::string_view few,
                                         std::string_view many) {
    // The remainder first: the magnitude of the smallest 64-bit value does not exist, while
    // the magnitude of any remainder does, and the last two digits are all the rule reads.
    const std::int64_t lastTwo = n % 100 < 0 ? -(n % 100) : n % 100;
    const std::int64_t last = lastTwo % 10;
    if (last == 1 && lastTwo != 11)
        return one;
    if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        return few;
    return many;
}

std::string PillCopy::silenceDetail(const std::optional<std::string>& microphone) const {
    std::string name = microphone ? Unicode::trimWhitespaceAndNewlines(*microphone) : "";
    return name.empty() ? std::string(silenceNoMic()) : name;
}

PillCopy::Refusal PillCopy::refused(RefuseReason reason) const {
    auto notInsertedBecause = [&](std::string_view en, std::string_view ru) {
        return Refusal{std::string(notInserted()), std::string(pick(en, ru))};
    };
    switch (reason) {
    case RefuseReason::secureField:
        return notInsertedBecause("password field", "поле пароля");
    case RefuseReason::elementChanged:
        return notInsertedBecause("the field changed", "поле сменилось");
    case RefuseReason::noAccessibility:
        return notInsertedBecause("allow Accessibility", "нужен Универсальный доступ");
    case RefuseReason::editFailed:
        return {std::string(pick("Couldn’t change it", "Не удалось изменить")),
                std::string(pick("selection kept", "выделение не тронуто"))};
    case RefuseReason::empty:
        return {std::string(pick("Nothing to insert", "Нечего вставить")), std::nullopt};
    case RefuseReason::noSpeechRecognition:
        return notInsertedBecause("allow Speech Recognition", "нужно Распознавание речи");
    }
    return {std::string(notInserted()), std::nullopt};
}

std::optional<std::string>
PillCopy::announcement(const PillState& state, const std::optional<std::string>& microphone) const {
    constexpr std::string_view dash = " – ";
    using Kind = PillState::Kind;
    switch (state.kind()) {
    case Kind::hidden:
    case Kind::listening:
    case Kind::handsFree:
    case Kind::voiceEdit:
        return std::nullopt;
    case Kind::polishing:
        return std::string(polishing());
    case Kind::inserted: {
        const std::string app = Unicode::trimWhitespaceAndNewlines(state.appName());
        if (app.empty())
            return std::string(inserted());
        return std::string(pick("Inserted in ", "Вставлено в ")) + app;
    }
    case Kind::copied:
        return joined(copied(), ". ", pasteHint());
    case Kind::learned:
        return joined(learned(), ": ", state.word());
    case Kind::offline:
        return joined(offline(), dash, offlineDetail());
    case Kind::silence:
        return joined(silence(), dash, silenceDetail(microphone));
    case Kind::refused: {
        const Refusal refusal = refused(state.reason().value_or(RefuseReason::empty));
        return refusal.detail ? joined(refusal.title, dash, *refusal.detail) : refusal.title;
    }
    case Kind::limit:
        return std::string(limit());
    }
    return std::nullopt;
}

std::string PillCopy::timer(double elapsed) {
    if (!std::isfinite(elapsed))
        return "0:00";
    // Clamped before the conversion: a double beyond the integer's range has no integer value,
    // and the longest run that can be shown is far past any real dictation anyway.
    constexpr double longest = 2147483647.0;
    const double whole = std::clamp(std::floor(elapsed), 0.0, longest);
    const auto seconds = static_cast<std::int64_t>(whole);
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

} // namespace talverin
