#pragma once

#include "TalverinSpeech/DraftEngine.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The answer to "can these languages be recognised on this machine?".
struct DraftResolution {
    enum class Kind { engine, notAuthorized, noRecognizer };

    Kind kind = Kind::noRecognizer;
    std::shared_ptr<DraftEngine> engine;
    // With notAuthorized: the authorization status as the recogniser reports it.
    int status = 0;

    static DraftResolution of(std::shared_ptr<DraftEngine> engine) {
        return {Kind::engine, std::move(engine), 0};
    }
    static DraftResolution notAuthorized(int status) { return {Kind::notAuthorized, {}, status}; }
    static DraftResolution noRecognizer() { return {}; }
};

// Resolves a dictation's languages to an engine for one locale. Used on the live-draft queue.
class DraftEngineProviding {
public:
    virtual ~DraftEngineProviding() = default;

    virtual DraftResolution resolve(const std::vector<std::string>& languages) = 0;
    // The locale to recognise the languages in, or none; also prepares its recogniser ahead of
    // the first dictation.
    virtual std::optional<std::string> chooseLocale(const std::vector<std::string>& languages) = 0;
};

} // namespace talverin
