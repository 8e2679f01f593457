#pragma once

#include "TalverinSpeech/SpeechRecognizers.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talverin::test {

// What one recognition task received, and the way to report to it. It outlives the channel,
// so a test can still look at it (and see that reports no longer arrive) after the session
// dropped it.
class RecognitionTaskFake {
public:
    RecognitionRequest request;

    std::size_t frames() const {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    std::size_t blocks() const {
        std::lock_guard lock(m_mutex);
        return m_buffers.size();
    }
    std::vector<DraftPcmBuffer> buffers() const {
        std::lock_guard lock(m_mutex);
        return m_buffers;
    }
    bool audioEnded() const {
        std::lock_guard lock(m_mutex);
        return m_audioEnded;
    }
    bool cancelled() const {
        std::lock_guard lock(m_mutex);
        return m_cancelled;
    }
    bool destroyed() const {
        std::lock_guard lock(m_mutex);
        return m_destroyed;
    }
    // Neither cancelled nor gone: reports still reach the engine.
    bool isLive() const {
        std::lock_guard lock(m_mutex);
        return !m_cancelled && !m_destroyed;
    }

    // Reports as the recogniser would; false, and nothing reported, once the task is over.
    bool report(RecognitionReport report) {
        std::lock_guard lock(m_reporting);
        if (!isLive())
            return false;
        m_onReport(std::move(report));
        return true;
    }
    bool partial(std::string text) {
        return report({RecognitionResult{std::move(text), false, {}}, {}});
    }
    bool final(std::string text, std::vector<float> confidences = {0.9f}) {
        return report({RecognitionResult{std::move(text), true, std::move(confidences)}, {}});
    }
    bool fail(std::string domain, std::int64_t code) {
        return report({{}, RecognitionError{std::move(domain), code}});
    }

private:
    friend class SpeechRecognizerFake;
    class Channel;

    mutable std::mutex m_mutex;
    // Held while a report is handed over, so cancel() returns only after it: no report comes
    // after a channel is cancelled, as the seam promises.
    std::mutex m_reporting;
    std::function<void(RecognitionReport)> m_onReport;
    std::vector<DraftPcmBuffer> m_buffers;
    std::size_t m_frames = 0;
    bool m_audioEnded = false;
    bool m_cancelled = false;
    bool m_destroyed = false;
};

class RecognitionTaskFake::Channel final : public DraftChannel {
public:
    explicit Channel(std::shared_ptr<RecognitionTaskFake> task) : m_task(std::move(task)) {}
    ~Channel() override {
        std::lock_guard reporting(m_task->m_reporting);
        std::lock_guard lock(m_task->m_mutex);
        m_task->m_destroyed = true;
    }
    void append(const DraftPcmBuffer& buffer) override {
        std::lock_guard lock(m_task->m_mutex);
        m_task->m_frames += buffer.frameLength();
        // Keep the first few blocks only: a long dictation feeds thousands.
        if (m_task->m_buffers.size() < 8)
            m_task->m_buffers.push_back(buffer);
        else
            m_task->m_buffers.push_back(DraftPcmBuffer{buffer.format, {}});
    }
    void endAudio() override {
        std::lock_guard lock(m_task->m_mutex);
        m_task->m_audioEnded = true;
    }
    void cancel() override {
        std::lock_guard reporting(m_task->m_reporting);
        std::lock_guard lock(m_task->m_mutex);
        m_task->m_cancelled = true;
    }

private:
    std::shared_ptr<RecognitionTaskFake> m_task;
};

// A recogniser whose answers the test sets; every task it begins is kept in `tasks`.
class SpeechRecognizerFake final : public SpeechRecognizer {
public:
    bool onDevice = true;
    bool available = true;
    DraftAudioFormat native{16000, 1, DraftSampleFormat::float32, false};
    UtteranceRestarts restarts = UtteranceRestarts::possible;
    mutable int availabilityChecks = 0;

    bool supportsOnDeviceRecognition() const override { return onDevice; }
    bool isAvailable() const override {
        ++availabilityChecks;
        return available;
    }
    DraftAudioFormat nativeFormat() const override { return native; }
    UtteranceRestarts utteranceRestarts() const override { return restarts; }

    std::unique_ptr<DraftChannel> begin(const RecognitionRequest& request,
                                        std::function<void(RecognitionReport)> onReport) override {
        auto task = std::make_shared<RecognitionTaskFake>();
        task->request = request;
        task->m_onReport = std::move(onReport);
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(task);
        }
        return std::make_unique<RecognitionTaskFake::Channel>(task);
    }

    std::vector<std::shared_ptr<RecognitionTaskFake>> tasks() const {
        std::lock_guard lock(m_mutex);
        return m_tasks;
    }
    std::shared_ptr<RecognitionTaskFake> task(std::size_t index) const {
        std::lock_guard lock(m_mutex);
        return index < m_tasks.size() ? m_tasks[index] : nullptr;
    }
    std::size_t taskCount() const {
        std::lock_guard lock(m_mutex);
        return m_tasks.size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<RecognitionTaskFake>> m_tasks;
};

// The machine's recognisers as the test sets them: a locale without an entry in `made`
// cannot be made. Each question is counted.
class SpeechRecognizersFake final : public SpeechRecognizers {
public:
    std::vector<std::string> supported;
    int status = authorized;
    std::map<std::string, std::shared_ptr<SpeechRecognizerFake>> made;
    mutable int supportedReads = 0;
    mutable int statusReads = 0;
    std::map<std::string, int> recognizerCalls;

    // A supported locale with a recogniser ready for it.
    SpeechRecognizerFake& add(const std::string& localeId) {
        supported.push_back(localeId);
        auto recognizer = std::make_shared<SpeechRecognizerFake>();
        made[localeId] = recognizer;
        return *recognizer;
    }

    std::vector<std::string> supportedLocales() const override {
        ++supportedReads;
        return supported;
    }
    int authorizationStatus() const override {
        ++statusReads;
        return status;
    }
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string& localeId) override {
        ++recognizerCalls[localeId];
        auto found = made.find(localeId);
        return found == made.end() ? nullptr : found->second;
    }
};

} // namespace talverin::test
