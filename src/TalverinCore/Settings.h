#pragma once

#include "TalverinCore/HoldKey.h"
#include "TalverinCore/PillSpot.h"
#include "TalverinCore/Replacement.h"
#include "TalverinCore/TextMode.h"
#include "TalverinCore/ThemeSetting.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace talverin {

class DefaultsStore;

// The user's settings. Every change, whatever its source (the pages, the stored record, the
// shell), arrives as a Patch and is merged by apply(), which is also the record's only
// validation: whatever comes in, the record that comes out keeps the limits below.
struct Settings {
    static constexpr std::string_view defaultsKey = "settings";
    static constexpr std::size_t maxLanguages = 5;
    static constexpr std::size_t maxWords = 500;
    static constexpr std::size_t maxWordLength = 64; // characters, as everywhere below
    static constexpr std::size_t maxReplacements = 200;
    static constexpr std::size_t maxReplacementLength = 200;
    static constexpr int lastOnboardingStep = 6;

    // A partial record: an absent field leaves its setting unchanged. Name only what changes:
    //     settings.apply({.pillSpot = PillSpot::topLeft});
    struct Patch {
        std::optional<HoldKey> holdKey;
        std::optional<std::vector<std::string>> languages;
        std::optional<TextMode> textMode;
        std::optional<std::vector<std::string>> words;
        std::optional<std::vector<Replacement>> replacements;
        // Three states: absent (unchanged), present without a value (back to the system's
        // default input), present with a string (that device).
        std::optional<std::optional<std::string>> microphoneID;
        std::optional<bool> sounds;
        std::optional<bool> duckMusic;
        std::optional<ThemeSetting> theme;
        std::optional<bool> sendContext;
        std::optional<bool> onboarded;
        std::optional<bool> cloudConsent;
        std::optional<PillSpot> pillSpot;
        std::optional<bool> pillIdle;
        std::optional<int> onboardingStep;

        // Builds a patch from a loose dictionary, such as the stored record; never fails. A key
        // whose value has not the accepted form leaves its field absent; a value that is not an
        // object gives the empty patch.
        static Patch fromDictionary(const nlohmann::json& dictionary);

        // One loose value as a flag: only a stored boolean, never 0, 1 or "true".
        static std::optional<bool> boolValue(const nlohmann::json& value);
        // One loose value as a whole number: a number that is not a boolean, is finite and whole,
        // and is at most 2147483647 in magnitude, so a stored 3.0 gives 3.
        static std::optional<int> intValue(const nlohmann::json& value);

        // Field by field, absent equal only to absent; texts under canonical equivalence.
        friend bool operator==(const Patch& a, const Patch& b);
    };

    HoldKey holdKey = HoldKey::rightOption;
    std::vector<std::string> languages{"ru", "en"}; // 1 to maxLanguages language tags
    TextMode textMode = TextMode::clean;
    std::vector<std::string> words;          // 0 to maxWords, trimmed, unique ignoring case
    std::vector<Replacement> replacements;   // 0 to maxReplacements rules
    std::optional<std::string> microphoneID; // none: the system's default input; never ""
    bool sounds = true;
    bool duckMusic = true;
    ThemeSetting theme = ThemeSetting::automatic;
    bool sendContext = true;
    bool onboarded = false;
    bool cloudConsent = false;
    PillSpot pillSpot = PillSpot::bottomCenter;
    bool pillIdle = true;
    int onboardingStep = 0; // 0 to lastOnboardingStep

    // Two or three characters, each an ASCII letter from a to z.
    static bool isLanguageTag(std::string_view text);

    // Merges the patch, dropping silently whatever breaks a limit; the rest still applies.
    void apply(const Patch& patch);
    // The same for a loose dictionary, read with Patch::fromDictionary.
    void apply(const nlohmann::json& dictionary);

    // The stored record in the defaults: fourteen entries, fifteen with a microphone.
    nlohmann::json plist() const;
    // The stored record with "microphoneID" always present, null without a microphone.
    nlohmann::json json() const;

    // The base with what is stored under defaultsKey applied to it as a patch. Nothing stored,
    // or something that is not a dictionary, gives the base unchanged. Never fails. When any
    // stored value has to be dropped (a wrong type, a key the record does not know, the record
    // itself not a dictionary), the store keeps its original first, one line names what was
    // dropped, and the record as read is saved at once.
    static Settings load(DefaultsStore& store, Settings base);
    // Writes plist() under defaultsKey, replacing what was there.
    void save(DefaultsStore& store) const;

    // Field by field, lists element by element in order; texts under canonical equivalence.
    friend bool operator==(const Settings& a, const Settings& b);
};

} // namespace talverin
