#pragma once

#include "TalverinSpeech/SpeechRecognizers.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct ps_decoder_s;

namespace talverin {

// The files of one installed pocketsphinx model, and how to decode with it.
struct PocketsphinxModel {
    std::string localeId;
    // The acoustic model folder.
    std::filesystem::path acoustic;
    std::filesystem::path languageModel;
    std::filesystem::path dictionary;
    // Tests only: a JSGF grammar that replaces the open language model, so that one known
    // sentence is decoded exactly.
    std::optional<std::string> grammar;
};

// The on-device recogniser of one locale over one pocketsphinx decoder. The decoder is loaded
// once, on the first question whether it is available (the live draft's prewarm, never the
// key-down path), and then decodes on a thread of its own, one utterance at a time: a channel
// is one utterance. Commands are queued with the channel they belong to, so cancelling a
// channel drops its queued audio and never touches another channel's utterance.
class SpeechRecognizerPocketsphinx final
    : public SpeechRecognizer,
      public std::enable_shared_from_this<SpeechRecognizerPocketsphinx> {
public:
    // The error domain of every failure a channel reports.
    static constexpr const char* errorDomain = "pocketsphinx";
    // The code a channel fails with when its audio waits longer than `backlogSeconds` to be
    // decoded; pocketsphinx itself returns -1 for its errors.
    static constexpr std::int64_t backlogCode = -100;
    static constexpr double backlogSeconds = 10;
    static constexpr int sampleRate = 16000;

    explicit SpeechRecognizerPocketsphinx(PocketsphinxModel model);
    ~SpeechRecognizerPocketsphinx() override;
    SpeechRecognizerPocketsphinx(const SpeechRecognizerPocketsphinx&) = delete;
    SpeechRecognizerPocketsphinx& operator=(const SpeechRecognizerPocketsphinx&) = delete;

    bool supportsOnDeviceRecognition() const override { return true; }
    // Loads the decoder the first time (0.5 to 0.8 s); false when it does not load.
    bool isAvailable() const override;
    DraftAudioFormat nativeFormat() const override;
    // Every result spans the whole utterance: the decoder never restarts one by itself.
    UtteranceRestarts utteranceRestarts() const override { return UtteranceRestarts::never; }
    // The contextual strings are not used: adding words would change the shared decoder for
    // good and rebuild its search.
    std::unique_ptr<DraftChannel> begin(const RecognitionRequest& request,
                                        std::function<void(RecognitionReport)> onReport) override;

    // Any thread. Samples the decoder thread has taken off its queue (decoded, or skipped for a
    // channel that was over), for tests and benchmarks that feed audio faster than real time
    // and keep within the backlog.
    std::uint64_t decodedSamples() const { return m_decoded.load(); }

private:
    class Channel;
    struct Command {
        // `fail` reports a channel's overflowed backlog from the decoder thread, ahead of
        // everything else, so no caller ever waits on a report being handed over.
        enum class Kind { begin, audio, end, fail };
        Kind kind = Kind::audio;
        std::uint64_t channel = 0;
        std::vector<std::int16_t> samples;
    };

    bool load() const;
    // Any thread.
    void push(Command command);
    void append(std::uint64_t channel, std::vector<std::int16_t> samples);
    void cancel(std::uint64_t channel);
    // Drops the channel's queued commands; m_mutex held.
    void dropQueued(std::uint64_t channel);
    // Hands the report over unless the channel is over; `last` ends it.
    void report(std::uint64_t channel, RecognitionReport report, bool last);
    void fail(std::uint64_t channel, std::int64_t code);

    // The decoder thread.
    void run();
    void execute(const Command& command);
    void startUtterance(std::uint64_t channel);
    void decode(std::uint64_t channel, const std::vector<std::int16_t>& samples);
    void endUtterance(std::uint64_t channel);
    std::vector<float> wordPosteriors();

    const PocketsphinxModel m_model;
    // The decoder, loaded once; used only on m_thread after that.
    mutable std::mutex m_loadMutex;
    mutable std::optional<bool> m_loaded;
    mutable ps_decoder_s* m_decoder = nullptr;
    mutable std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Command> m_commands;
    std::size_t m_queuedSamples = 0;
    // Channels whose backlog overflowed: their later audio is not queued.
    std::set<std::uint64_t> m_overflowed;
    bool m_stopping = false;

    // Where a channel's reports go. Its mutex is held while a report is handed over, so that
    // cancel() returns only after it; other channels never wait on it.
    struct Reporter {
        std::mutex mutex;
        std::function<void(RecognitionReport)> onReport;
    };
    std::shared_ptr<Reporter> reporter(std::uint64_t channel);
    // Guarded by m_mutex.
    std::map<std::uint64_t, std::shared_ptr<Reporter>> m_reporters;
    std::atomic<std::uint64_t> m_nextChannel = 1;
    std::atomic<std::uint64_t> m_decoded = 0;

    // Decoder thread only.
    std::uint64_t m_utterance = 0;
    std::string m_lastPartial;
};

} // namespace talverin
