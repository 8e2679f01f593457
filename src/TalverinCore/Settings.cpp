#include "TalverinCore/Settings.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <unordered_set>

namespace talverin {

namespace {

bool sameTexts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const std::string& x, const std::string& y) { return Unicode::canonicallyEqual(x, y); });
}

bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a && b)
        return Unicode::canonicallyEqual(*a, *b);
    return a.has_value() == b.has_value();
}

// Equality of two optional patch fields through the given comparison of present values.
template <typename T, typename Same>
bool sameField(const std::optional<T>& a, const std::optional<T>& b, Same same) {
    if (a && b)
        return same(*a, *b);
    return a.has_value() == b.has_value();
}

std::vector<std::string> validLanguages(const std::vector<std::string>& entries) {
    std::vector<std::string> languages;
    for (const auto& entry : entries) {
        // Line breaks are not trimmed here, so "ru\n" stays invalid.
        std::string tag = Unicode::lower(Unicode::trimBlanks(entry));
        if (!Settings::isLanguageTag(tag))
            continue;
        // Tags are plain ASCII by now, so byte equality is canonical equality.
        if (std::find(languages.begin(), languages.end(), tag) != languages.end())
            continue;
        languages.push_back(std::move(tag));
        if (languages.size() == Settings::maxLanguages)
            break;
    }
    return languages;
}

std::vector<std::string> validWords(const std::vector<std::string>& entries) {
    std::vector<std::string> words;
    // Lowered and composed forms of the words kept so far: equal ignoring case, canonically.
    std::unordered_set<std::string> seen;
    for (const auto& entry : entries) {
        if (words.size() == Settings::maxWords)
            break;
        std::string word = Unicode::trimWhitespaceAndNewlines(entry);
        if (word.empty() || Unicode::graphemeCount(word) > Settings::maxWordLength)
            continue;
        if (!seen.insert(Unicode::nfc(Unicode::lower(word))).second)
            continue;
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<Replacement> validReplacements(const std::vector<Replacement>& rules) {
    std::vector<Replacement> kept;
    for (const auto& rule : rules) {
        if (kept.size() == Settings::maxReplacements)
            break;
        // Lengths are counted on the rule as it came; the rule is stored untrimmed.
        if (Unicode::trimWhitespaceAndNewlines(rule.from).empty() ||
            Unicode::graphemeCount(rule.from) > Settings::maxReplacementLength ||
            Unicode::graphemeCount(rule.to) > Settings::maxReplacementLength)
            continue;
        kept.push_back(rule);
    }
    return kept;
}

} // namespace

bool Settings::isLanguageTag(std::string_view text) {
    if (text.size() < 2 || text.size() > 3)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

void Settings::apply(const Patch& patch) {
    if (patch.holdKey)
        holdKey = *patch.holdKey;
    if (patch.textMode)
        textMode = *patch.textMode;
    if (patch.theme)
        theme = *patch.theme;
    if (patch.pillSpot)
        pillSpot = *patch.pillSpot;
    if (patch.sounds)
        sounds = *patch.sounds;
    if (patch.duckMusic)
        duckMusic = *patch.duckMusic;
    if (patch.sendContext)
        sendContext = *patch.sendContext;
    if (patch.onboarded)
        onboarded = *patch.onboarded;
    if (patch.cloudConsent)
        cloudConsent = *patch.cloudConsent;
    if (patch.pillIdle)
        pillIdle = *patch.pillIdle;

    // An empty or wholly invalid list never empties the languages: dictation needs one.
    if (patch.languages) {
        auto valid = validLanguages(*patch.languages);
        if (!valid.empty())
            languages = std::move(valid);
    }
    // Words and rules, unlike languages, may be cleared by an empty list.
    if (patch.words)
        words = validWords(*patch.words);
    if (patch.replacements)
        replacements = validReplacements(*patch.replacements);
    if (patch.microphoneID) {
        const auto& chosen = *patch.microphoneID;
        if (chosen && !chosen->empty())
            microphoneID = *chosen;
        else
            microphoneID.reset();
    }
    if (patch.onboardingStep && *patch.onboardingStep >= 0 &&
        *patch.onboardingStep <= lastOnboardingStep)
        onboardingStep = *patch.onboardingStep;
}

void Settings::apply(const nlohmann::json& dictionary) {
    apply(Patch::fromDictionary(dictionary));
}

bool operator==(const Settings& a, const Settings& b) {
    return a.holdKey == b.holdKey && sameTexts(a.languages, b.languages) &&
           a.textMode == b.textMode && sameTexts(a.words, b.words) &&
           a.replacements == b.replacements && sameText(a.microphoneID, b.microphoneID) &&
           a.sounds == b.sounds && a.duckMusic == b.duckMusic && a.theme == b.theme &&
           a.sendContext == b.sendContext && a.onboarded == b.onboarded &&
           a.cloudConsent == b.cloudConsent && a.pillSpot == b.pillSpot &&
           a.pillIdle == b.pillIdle && a.onboardingStep == b.onboardingStep;
}

bool operator==(const Settings::Patch& a, const Settings::Patch& b) {
    return a.holdKey == b.holdKey && sameField(a.languages, b.languages, sameTexts) &&
           a.textMode == b.textMode && sameField(a.words, b.words, sameTexts) &&
           a.replacements == b.replacements &&
           sameField(a.microphoneID, b.microphoneID, sameText) && a.sounds == b.sounds &&
           a.duckMusic == b.duckMusic && a.theme == b.theme && a.sendContext == b.sendContext &&
           a.onboarded == b.onboarded && a.cloudConsent == b.cloudConsent &&
           a.pillSpot == b.pillSpot && a.pillIdle == b.pillIdle &&
           a.onboardingStep == b.onboardingStep;
}

} // namespace talverin
