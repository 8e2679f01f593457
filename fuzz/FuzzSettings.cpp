// Feeds arbitrary bytes to the two readers of outside settings: the JSON patch the pages send
// (and the JSON record), and the loose dictionary read back from the defaults. Neither may throw
// or crash, whatever they get; what they accept must come out within the record's limits and
// survive being written and read again unchanged.
#include "TalverinCore/Settings.h"
#include "TalverinCore/SettingsCoding.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/Unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

namespace {

using talverin::Settings;
using talverin::Unicode;

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkLimits(const Settings& settings) {
    check(!settings.languages.empty() && settings.languages.size() <= Settings::maxLanguages);
    std::set<std::string> languages(settings.languages.begin(), settings.languages.end());
    check(languages.size() == settings.languages.size());
    for (const auto& tag : settings.languages)
        check(Settings::isLanguageTag(tag));
    check(settings.words.size() <= Settings::maxWords);
    for (const auto& word : settings.words) {
        check(!word.empty() && Unicode::trimWhitespaceAndNewlines(word) == word);
        check(Unicode::graphemeCount(word) <= Settings::maxWordLength);
    }
    check(settings.replacements.size() <= Settings::maxReplacements);
    for (const auto& rule : settings.replacements) {
        check(!Unicode::trimWhitespaceAndNewlines(rule.from).empty());
        check(Unicode::graphemeCount(rule.from) <= Settings::maxReplacementLength);
        check(Unicode::graphemeCount(rule.to) <= Settings::maxReplacementLength);
    }
    check(!settings.microphoneID || !settings.microphoneID->empty());
    check(settings.onboardingStep >= 0 && settings.onboardingStep <= Settings::lastOnboardingStep);
}

// A valid record is a fixed point: writing it and reading it back, by either form, changes
// nothing.
void checkRoundTrips(const Settings& settings) {
    auto text = talverin::Wire::encoder().encode(settings);
    check(text.ok());
    auto back = talverin::Wire::decoder().decode<Settings>(*text);
    check(back.ok() && *back == settings);

    talverin::DefaultsStoreMemory store;
    settings.save(store);
    check(Settings::load(store, Settings{}) == settings);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoder = talverin::Wire::decoder();

    if (auto patch = decoder.decode<Settings::Patch>(bytes); patch.ok()) {
        auto text = talverin::Wire::encoder().encode(*patch);
        check(text.ok());
        auto again = decoder.decode<Settings::Patch>(*text);
        check(again.ok() && *again == *patch);
        Settings settings;
        settings.apply(*patch);
        checkLimits(settings);
        checkRoundTrips(settings);
    }

    if (auto record = decoder.decode<Settings>(bytes); record.ok()) {
        checkLimits(*record);
        checkRoundTrips(*record);
    }

    // The defaults hold whatever JSON the file held; the loose reader takes any of it.
    auto tree = decoder.read(bytes);
    if (tree.ok()) {
        Settings settings;
        settings.apply(*tree);
        checkLimits(settings);
        checkRoundTrips(settings);
    }
    return 0;
}
