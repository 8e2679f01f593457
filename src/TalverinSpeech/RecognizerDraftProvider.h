#pragma once

#include "Runtime/PreferredLanguages.h"
#include "Runtime/SerialQueue.h"
#include "TalverinSpeech/DraftEngineProviding.h"
#include "TalverinSpeech/DraftTuning.h"
#include "TalverinSpeech/RecognizerDraftEngine.h"
#include "TalverinSpeech/SpeechRecognizers.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// Where the user's languages and region come from when a locale is chosen.
struct DraftLocaleSource {
    std::function<std::vector<std::string>()> preferredLanguages;
    std::function<std::optional<std::string>()> currentRegion;

    // The process environment, read at every choice.
    static DraftLocaleSource system();
    // The region of the locale the variables name (LC_ALL, else LC_MESSAGES, else LANG; the
    // LANGUAGE list names languages, not the place the user is in).
    static std::optional<std::string> regionFrom(const PreferredLanguages::Lookup& lookup);
};

// Resolves languages to engines over the on-device recognisers, keeping what it learnt: the
// supported locales (read once), every recogniser and engine made, and the last locale choice
// for `choiceTTL`, an absent one included. Used on the live-draft queue only; its result queue
// delivers the engines' events.
class RecognizerDraftProvider final : public DraftEngineProviding {
public:
    // Candidates tried per language, most likely first.
    static constexpr int candidateLimit = 4;

    RecognizerDraftProvider(std::shared_ptr<SpeechRecognizers> recognizers, DraftTuning tuning,
                            const std::string& queueLabel,
                            DraftLocaleSource locale = DraftLocaleSource::system());
    ~RecognizerDraftProvider() override;

    DraftResolution resolve(const std::vector<std::string>& languages) override;
    std::optional<std::string> chooseLocale(const std::vector<std::string>& languages) override;
    // The cached recogniser or a new one; null, and nothing cached, when none can be made.
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string& localeId);
    // Sorted ascending; read on first use and kept.
    const std::vector<std::string>& supportedLocales();

private:
    struct Choice {
        std::vector<std::string> languages;
        std::optional<std::string> localeId;
        double at = 0;
    };

    bool isUsable(const std::string& localeId);
    DraftAudioFormat formatFor(const SpeechRecognizer& recognizer) const;

    std::shared_ptr<SpeechRecognizers> m_platform;
    DraftTuning m_tuning;
    DraftLocaleSource m_locale;
    std::shared_ptr<SerialQueue> m_callbacks;
    std::optional<std::vector<std::string>> m_supported;
    std::map<std::string, std::shared_ptr<SpeechRecognizer>> m_recognizers;
    std::map<std::string, std::shared_ptr<RecognizerDraftEngine>> m_engines;
    std::optional<Choice> m_choice;
};

} // namespace talverin
