#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"

#include "TalverinSpeech/linux/PocketsphinxText.h"

#include <system_error>

namespace talverin {

SpeechRecognizersPocketsphinx::SpeechRecognizersPocketsphinx(std::filesystem::path modelRoot,
                                                             Options options)
    : m_root(std::move(modelRoot)), m_options(std::move(options)) {}

std::map<std::string, PocketsphinxModel>
SpeechRecognizersPocketsphinx::models(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::map<std::string, PocketsphinxModel> found;
    std::error_code error;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        auto localeId = PocketsphinxText::localeId(name);
        if (!localeId)
            continue;
        PocketsphinxModel model{*localeId, it->path() / name, it->path() / (name + ".lm.bin"),
                                it->path() / ("cmudict-" + name + ".dict"), std::nullopt};
        std::error_code ignored;
        if (fs::is_regular_file(model.acoustic / "mdef", ignored) &&
            fs::is_regular_file(model.languageModel, ignored) &&
            fs::is_regular_file(model.dictionary, ignored))
            found.emplace(*localeId, std::move(model));
    }
    return found;
}

std::vector<std::string> SpeechRecognizersPocketsphinx::supportedLocales() const {
    std::vector<std::string> ids;
    for (const auto& [id, model] : models(m_root))
        ids.push_back(id);
    return ids;
}

std::shared_ptr<SpeechRecognizer>
SpeechRecognizersPocketsphinx::recognizer(const std::string& localeId) {
    std::lock_guard lock(m_mutex);
    if (auto made = m_made.find(localeId); made != m_made.end())
        return made->second;
    auto all = models(m_root);
    auto found = all.find(localeId);
    if (found == all.end())
        return nullptr;
    found->second.grammar = m_options.grammar;
    auto made = std::make_shared<SpeechRecognizerPocketsphinx>(std::move(found->second));
    m_made.emplace(localeId, made);
    return made;
}

} // namespace talverin
