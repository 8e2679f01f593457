#include "TalverinSpeech/RecognizerDraftProvider.h"

#include "Runtime/MainQueue.h"
#include "TalverinSpeech/DraftLocale.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string_view>

namespace talverin {

DraftLocaleSource DraftLocaleSource::system() {
    return {
        [] { return PreferredLanguages::current(); },
        [] { return regionFrom([](const char* name) { return std::getenv(name); }); },
    };
}

std::optional<std::string> DraftLocaleSource::regionFrom(const PreferredLanguages::Lookup& lookup) {
    auto tags = PreferredLanguages::from([&](const char* name) -> const char* {
        return std::string_view(name) == "LANGUAGE" ? nullptr : lookup(name);
    });
    if (tags.empty())
        return std::nullopt;
    auto parts = DraftLocale::parts(tags.front());
    return parts ? parts->region : std::nullopt;
}

RecognizerDraftProvider::RecognizerDraftProvider(std::shared_ptr<SpeechRecognizers> recognizers,
                                                 DraftTuning tuning, const std::string& queueLabel,
                                                 DraftLocaleSource locale)
    : m_platform(std::move(recognizers)), m_tuning(tuning), m_locale(std::move(locale)),
      m_callbacks(std::make_shared<SerialQueue>(queueLabel + ".results")) {}

// The result queue runs out what is already due to it while the engines are still here.
RecognizerDraftProvider::~RecognizerDraftProvider() = default;

DraftResolution RecognizerDraftProvider::resolve(const std::vector<std::string>& languages) {
    const int status = m_platform->authorizationStatus();
    if (status != SpeechRecognizers::authorized)
        return DraftResolution::notAuthorized(status);
    auto localeId = chooseLocale(languages);
    if (!localeId)
        return DraftResolution::noRecognizer();
    auto made = recognizer(*localeId);
    if (!made)
        return DraftResolution::noRecognizer();
    if (auto found = m_engines.find(*localeId); found != m_engines.end())
        return DraftResolution::of(found->second);
    auto engine =
        std::make_shared<RecognizerDraftEngine>(*localeId, made, formatFor(*made), m_callbacks);
    m_engines.emplace(*localeId, engine);
    return DraftResolution::of(engine);
}

// The recogniser's own format when it is 16 kHz mono in a sample format we can write;
// otherwise 16 kHz mono float, which every recogniser takes.
DraftAudioFormat RecognizerDraftProvider::formatFor(const SpeechRecognizer& recognizer) const {
    DraftAudioFormat native = recognizer.nativeFormat();
    if (native.sampleRate == 16000 && native.channels == 1 &&
        (native.common == DraftSampleFormat::int16 || native.common == DraftSampleFormat::float32))
        return native;
    return DraftAudio::float32Format();
}

std::optional<std::string>
RecognizerDraftProvider::chooseLocale(const std::vector<std::string>& languages) {
    const double now = Clock::uptime();
    if (m_choice && m_choice->languages == languages && now - m_choice->at < m_tuning.choiceTTL) {
        if (!m_choice->localeId)
            return std::nullopt;
        // A recogniser can go away (its model removed): then the choice is made again.
        if (isUsable(*m_choice->localeId))
            return m_choice->localeId;
    }

    const auto& supported = supportedLocales();
    const auto preferred =
        m_locale.preferredLanguages ? m_locale.preferredLanguages() : std::vector<std::string>{};
    const auto region = m_locale.currentRegion ? m_locale.currentRegion() : std::nullopt;
    std::optional<std::string> chosen;
    std::set<std::string> tried;
    for (const auto& language : languages) {
        for (const auto& id :
             DraftLocale::candidates(language, supported, preferred, region, candidateLimit)) {
            if (!tried.insert(id).second)
                continue;
            if (isUsable(id)) {
                chosen = id;
                break;
            }
        }
        if (chosen)
            break;
    }
    m_choice = Choice{languages, chosen, now};
    return chosen;
}

bool RecognizerDraftProvider::isUsable(const std::string& localeId) {
    auto made = recognizer(localeId);
    return made && made->supportsOnDeviceRecognition() && made->isAvailable();
}

std::shared_ptr<SpeechRecognizer> RecognizerDraftProvider::recognizer(const std::string& localeId) {
    if (auto found = m_recognizers.find(localeId); found != m_recognizers.end())
        return found->second;
    auto made = m_platform->recognizer(localeId);
    if (made)
        m_recognizers.emplace(localeId, made);
    return made;
}

const std::vector<std::string>& RecognizerDraftProvider::supportedLocales() {
    if (!m_supported) {
        auto ids = m_platform->supportedLocales();
        std::sort(ids.begin(), ids.end());
        m_supported = std::move(ids);
    }
    return *m_supported;
}

} // namespace talverin
