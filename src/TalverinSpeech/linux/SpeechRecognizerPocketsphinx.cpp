#include "TalverinSpeech/linux/SpeechRecognizerPocketsphinx.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinSpeech/linux/PocketsphinxText.h"

#include <algorithm>
#include <utility>

#include <pocketsphinx.h>

namespace talverin {

namespace {

struct ConfigFree {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
using ConfigPtr = std::unique_ptr<cmd_ln_t, ConfigFree>;

constexpr const char* grammarSearch = "grammar";

// Without the second (flat-lexicon) pass the final result comes in milliseconds instead of a
// third of a second per few seconds of speech, which the live draft's finish cap could not
// wait for; accuracy is as poor either way. The best-path pass is what gives each word a real
// posterior (without it every word has 1.0). The decoder's own chatter, some 200 lines per
// load, goes nowhere.
ConfigPtr configFor(const PocketsphinxModel& model) {
    const std::string hmm = model.acoustic.string();
    const std::string dict = model.dictionary.string();
    const std::string lm = model.languageModel.string();
    if (model.grammar)
        return ConfigPtr(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict",
                                     dict.c_str(), "-fwdflat", "no", "-bestpath", "yes", "-logfn",
                                     "/dev/null", nullptr));
    return ConfigPtr(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(),
                                 "-dict", dict.c_str(), "-fwdflat", "no", "-bestpath", "yes",
                                 "-logfn", "/dev/null", nullptr));
}

} // namespace

// A channel is one utterance of the decoder; it only queues, the decoder thread decodes.
class SpeechRecognizerPocketsphinx::Channel final : public DraftChannel {
public:
    Channel(std::shared_ptr<SpeechRecognizerPocketsphinx> owner, std::uint64_t id)
        : m_owner(std::move(owner)), m_id(id) {}
    ~Channel() override { m_owner->cancel(m_id); }

    void append(const DraftPcmBuffer& buffer) override {
        if (auto* pcm = std::get_if<std::vector<std::int16_t>>(&buffer.samples)) {
            m_owner->append(m_id, *pcm);
            return;
        }
        const auto& floats = std::get<std::vector<float>>(buffer.samples);
        if (auto converted = DraftAudio::buffer(floats, m_owner->nativeFormat()))
            m_owner->append(m_id, std::get<std::vector<std::int16_t>>(converted->samples));
    }
    void endAudio() override { m_owner->push({Command::Kind::end, m_id, {}}); }
    void cancel() override { m_owner->cancel(m_id); }

private:
    std::shared_ptr<SpeechRecognizerPocketsphinx> m_owner;
    std::uint64_t m_id;
};

SpeechRecognizerPocketsphinx::SpeechRecognizerPocketsphinx(PocketsphinxModel model)
    : m_model(std::move(model)) {}

SpeechRecognizerPocketsphinx::~SpeechRecognizerPocketsphinx() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_decoder)
        ps_free(m_decoder);
}

bool SpeechRecognizerPocketsphinx::isAvailable() const {
    return load();
}

DraftAudioFormat SpeechRecognizerPocketsphinx::nativeFormat() const {
    return {sampleRate, 1, DraftSampleFormat::int16, false};
}

bool SpeechRecognizerPocketsphinx::load() const {
    std::lock_guard lock(m_loadMutex);
    if (m_loaded)
        return *m_loaded;
    ps_decoder_t* decoder = nullptr;
    if (ConfigPtr config = configFor(m_model)) {
        // The decoder keeps its own reference to the configuration.
        decoder = ps_init(config.get());
    }
    if (decoder && m_model.grammar &&
        (ps_set_jsgf_string(decoder, grammarSearch, m_model.grammar->c_str()) < 0 ||
         ps_set_search(decoder, grammarSearch) < 0)) {
        ps_free(decoder);
        decoder = nullptr;
    }
    if (!decoder) {
        CoreLog::write("pocketsphinx: the " + m_model.localeId + " model in " +
                       m_model.acoustic.parent_path().string() + " does not load");
        m_loaded = false;
        return false;
    }
    m_decoder = decoder;
    auto* self = const_cast<SpeechRecognizerPocketsphinx*>(this);
    m_thread = std::thread([self] { self->run(); });
    m_loaded = true;
    return true;
}

std::unique_ptr<DraftChannel>
SpeechRecognizerPocketsphinx::begin(const RecognitionRequest&,
                                    std::function<void(RecognitionReport)> onReport) {
    const std::uint64_t id = m_nextChannel++;
    {
        auto made = std::make_shared<Reporter>();
        made->onReport = std::move(onReport);
        std::lock_guard lock(m_mutex);
        m_reporters.emplace(id, std::move(made));
    }
    if (load())
        push({Command::Kind::begin, id, {}});
    else
        fail(id, -1);
    return std::make_unique<Channel>(shared_from_this(), id);
}

void SpeechRecognizerPocketsphinx::push(Command command) {
    {
        std::lock_guard lock(m_mutex);
        m_queuedSamples += command.samples.size();
        m_commands.push_back(std::move(command));
    }
    m_wake.notify_one();
}

void SpeechRecognizerPocketsphinx::append(std::uint64_t channel,
                                          std::vector<std::int16_t> samples) {
    if (samples.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_overflowed.count(channel))
            return;
        if (m_queuedSamples + samples.size() <= backlogSeconds * sampleRate) {
            m_queuedSamples += samples.size();
            m_commands.push_back({Command::Kind::audio, channel, std::move(samples)});
        } else {
            // A decoder that falls this far behind (a slow machine, a long dictation) would
            // hold the draft back for longer than anyone waits: the channel fails as if the
            // decoder had, and the session starts a new one with fresh audio.
            dropQueued(channel);
            m_overflowed.insert(channel);
            m_commands.push_front({Command::Kind::fail, channel, {}});
        }
    }
    m_wake.notify_one();
}

void SpeechRecognizerPocketsphinx::cancel(std::uint64_t channel) {
    std::shared_ptr<Reporter> cancelled;
    {
        std::lock_guard lock(m_mutex);
        dropQueued(channel);
        m_overflowed.erase(channel);
        if (auto found = m_reporters.find(channel); found != m_reporters.end()) {
            cancelled = std::move(found->second);
            m_reporters.erase(found);
        }
    }
    if (cancelled) {
        // Waits for a report being handed over right now; none follows.
        std::lock_guard lock(cancelled->mutex);
        cancelled->onReport = nullptr;
    }
}

std::shared_ptr<SpeechRecognizerPocketsphinx::Reporter>
SpeechRecognizerPocketsphinx::reporter(std::uint64_t channel) {
    std::lock_guard lock(m_mutex);
    auto found = m_reporters.find(channel);
    return found == m_reporters.end() ? nullptr : found->second;
}

void SpeechRecognizerPocketsphinx::dropQueued(std::uint64_t channel) {
    std::erase_if(m_commands, [&](const Command& command) {
        if (command.channel != channel)
            return false;
        m_queuedSamples -= command.samples.size();
        return true;
    });
}

void SpeechRecognizerPocketsphinx::report(std::uint64_t channel, RecognitionReport report,
                                          bool last) {
    auto to = reporter(channel);
    if (!to)
        return;
    std::lock_guard lock(to->mutex);
    if (!to->onReport)
        return;
    to->onReport(std::move(report));
    if (last) {
        to->onReport = nullptr;
        std::lock_guard queueLock(m_mutex);
        m_reporters.erase(channel);
    }
}

void SpeechRecognizerPocketsphinx::fail(std::uint64_t channel, std::int64_t code) {
    report(channel, {std::nullopt, RecognitionError{errorDomain, code}}, true);
}

void SpeechRecognizerPocketsphinx::run() {
    for (;;) {
        Command command;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_commands.empty(); });
            if (m_stopping)
                return;
            command = std::move(m_commands.front());
            m_commands.pop_front();
            m_queuedSamples -= command.samples.size();
        }
        execute(command);
        m_decoded += command.samples.size();
    }
}

void SpeechRecognizerPocketsphinx::execute(const Command& command) {
    switch (command.kind) {
    case Command::Kind::begin:
        startUtterance(command.channel);
        break;
    case Command::Kind::audio:
        decode(command.channel, command.samples);
        break;
    case Command::Kind::end:
        endUtterance(command.channel);
        break;
    case Command::Kind::fail:
        fail(command.channel, backlogCode);
        break;
    }
}

void SpeechRecognizerPocketsphinx::startUtterance(std::uint64_t channel) {
    // A cancelled or failed channel may have left its utterance open: it ends unheard, so
    // rotating to the next segment is an end and a restart either way.
    if (m_utterance != 0) {
        ps_end_utt(m_decoder);
        m_utterance = 0;
    }
    m_lastPartial.clear();
    if (int rc = ps_start_utt(m_decoder); rc < 0) {
        fail(channel, rc);
        return;
    }
    m_utterance = channel;
}

void SpeechRecognizerPocketsphinx::decode(std::uint64_t channel,
                                          const std::vector<std::int16_t>& samples) {
    if (m_utterance != channel)
        return;
    int rc = ps_process_raw(m_decoder, samples.data(), samples.size(), FALSE, FALSE);
    if (rc < 0) {
        ps_end_utt(m_decoder);
        m_utterance = 0;
        fail(channel, rc);
        return;
    }
    std::int32_t score = 0;
    std::string text = PocketsphinxText::text(ps_get_hyp(m_decoder, &score));
    // Every block asks for the hypothesis; only a changed one is news.
    if (text == m_lastPartial)
        return;
    m_lastPartial = text;
    report(channel, {RecognitionResult{std::move(text), false, {}}, std::nullopt}, false);
}

void SpeechRecognizerPocketsphinx::endUtterance(std::uint64_t channel) {
    if (m_utterance != channel)
        return;
    m_utterance = 0;
    if (int rc = ps_end_utt(m_decoder); rc < 0) {
        fail(channel, rc);
        return;
    }
    std::int32_t score = 0;
    std::string text = PocketsphinxText::text(ps_get_hyp(m_decoder, &score));
    report(channel, {RecognitionResult{std::move(text), true, wordPosteriors()}, std::nullopt},
           true);
}

// The posterior of each spoken word of the best path, 0 to 1.
std::vector<float> SpeechRecognizerPocketsphinx::wordPosteriors() {
    std::vector<float> posteriors;
    logmath_t* lmath = ps_get_logmath(m_decoder);
    for (ps_seg_t* seg = ps_seg_iter(m_decoder); seg; seg = ps_seg_next(seg)) {
        const char* word = ps_seg_word(seg);
        if (!word || PocketsphinxText::isFiller(PocketsphinxText::baseWord(word)))
            continue;
        std::int32_t ascr = 0, lscr = 0, lback = 0;
        const double p = logmath_exp(lmath, ps_seg_prob(seg, &ascr, &lscr, &lback));
        posteriors.push_back(static_cast<float>(std::clamp(p, 0.0, 1.0)));
    }
    return posteriors;
}

} // namespace talverin
