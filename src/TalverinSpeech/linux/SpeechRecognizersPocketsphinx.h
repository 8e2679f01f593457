#pragma once

#include "TalverinSpeech/SpeechRecognizers.h"
#include "TalverinSpeech/linux/SpeechRecognizerPocketsphinx.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The machine's pocketsphinx models as recognisers: every folder of the model root that holds
// an acoustic model, a language model and a dictionary named after it is a supported locale
// ("en-us" is reported as "en-US"). The model root is the parent of the folder the speech
// permission checks, so the two answer from the same files. Recognition is authorized
// whenever this runs at all: a missing model means no recogniser, not a refusal.
class SpeechRecognizersPocketsphinx final : public SpeechRecognizers {
public:
    struct Options {
        // Tests only: decode with this JSGF grammar instead of the open language model.
        std::optional<std::string> grammar;
    };

    explicit SpeechRecognizersPocketsphinx(std::filesystem::path modelRoot, Options options = {});

    std::vector<std::string> supportedLocales() const override;
    int authorizationStatus() const override { return authorized; }
    // One recogniser, and so one decoder, per locale for the life of this object.
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string& localeId) override;

    // The installed models by locale id.
    static std::map<std::string, PocketsphinxModel> models(const std::filesystem::path& root);

private:
    std::filesystem::path m_root;
    Options m_options;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<SpeechRecognizerPocketsphinx>> m_made;
};

} // namespace talverin
