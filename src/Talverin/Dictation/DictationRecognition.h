#pragma once

#include "Runtime/Task.h"
#include "TalverinCore/ClipEncoding.h"
#include "TalverinCore/DictateReply.h"
#include "TalverinCore/Dictating.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/DictationMode.h"
#include "TalverinCore/LanguageRecognizing.h"
#include "TalverinCore/LiveDrafting.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/Settings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// What one finished dictation's text is, and where it came from: the cloud's text when the
// cloud can be asked and answers, the on-device draft when it cannot, and the language guard
// in between. It keeps nothing between dictations. Main thread.
class DictationRecognition {
public:
    struct Recognized {
        enum class Source {
            cloud,
            draft, // the live draft's text, also when the language guard chose it
        };
        std::string text; // before trimming and the text rules
        std::string raw;  // the raw transcript, for the history
        Source source = Source::draft;
        std::optional<PillState> failure; // the dictation ends with this pill, inserting nothing
        std::optional<PillState> note;    // shown in place of the inserted state
        std::string cloud;                // the cloud's outcome for the log line
        std::optional<std::int64_t> cloudMs;
        std::optional<std::int64_t> serverMs;
        std::optional<std::int64_t> flushMs;
        std::optional<std::int64_t> draftMs;
    };

    DictationRecognition(std::shared_ptr<LiveDrafting> liveDraft,
                         std::shared_ptr<Dictating> dictate,
                         std::shared_ptr<LanguageRecognizing> languageRecognizer)
        : m_liveDraft(std::move(liveDraft)), m_dictate(std::move(dictate)),
          m_languageRecognizer(std::move(languageRecognizer)) {}

    // Never fails: every road ends in a record that says what to insert, or which pill to
    // show instead, with the timings of the log line. `encoder` is the session's, or none.
    Task<Recognized> recognize(std::shared_ptr<ClipEncoding> encoder, DictationContext context,
                               DictationMode mode, Settings settings);

private:
    Task<Recognized> withoutCloud(std::shared_ptr<ClipEncoding> encoder, Future<std::string> draft,
                                  double draftStart, DictationMode mode);
    static Future<std::vector<std::uint8_t>> flush(std::shared_ptr<ClipEncoding> encoder);
    Recognized answered(Recognized result, const DictateResult& answer, DictationMode mode,
                        const Settings& settings);
    Task<Recognized> failed(Recognized result, DictateReply reply, Future<std::string> draft,
                            double draftStart, DictationMode mode);
    static DictateRequest request(std::vector<std::uint8_t> clip, const DictationContext& context,
                                  DictationMode mode, const Settings& settings);
    static void takeDraft(Recognized& result, std::string text);

    const std::shared_ptr<LiveDrafting> m_liveDraft;
    const std::shared_ptr<Dictating> m_dictate;
    const std::shared_ptr<LanguageRecognizing> m_languageRecognizer;
};

} // namespace talverin
