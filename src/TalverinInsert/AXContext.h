#pragma once

#include "TalverinCore/ContextReading.h"
#include "TalverinInsert/AXSession.h"
#include "TalverinInsert/ContextRules.h"
#include "TalverinInsert/SecureInput.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace talverin {

// Reads the focused field of the application in front when a dictation begins: which
// application, whether the field takes text or is a password field, the text around the caret
// and the selection, the window's frame, and a token for the element. Every read is bounded by
// one AXSession and ends with exactly one "AXContext:" log line.
class AXContext final : public ContextReading {
public:
    static constexpr int defaultTimeoutMs = 100;
    static constexpr std::int64_t beforeLimit = 600;
    static constexpr std::int64_t afterLimit = 200;
    // Fields longer than this are read as two ranges around the caret, not whole.
    static constexpr std::int64_t wholeValueLimit = 20000;

    AXContext(AccessibilityBackend& backend, SecureInput& secureInput,
              Ticking ticking = Ticking::system());

    // Any worker thread; may run on several at once.
    DictationContext read(int timeoutMs) override;

    WebEngine engine(std::int32_t pid, const std::optional<RunningApplication>& running);
    // True only when this very call switched the application's tree on.
    bool enableAccessibilityIfNeeded(const AXElement& app, std::int32_t pid,
                                     const std::optional<std::string>& bundleID, WebEngine engine,
                                     AXSession& session);
    std::optional<Rect> windowFrame(AXElement window, const AXElement& app, AXSession& session);
    std::string string(const AXElement& element, AXRange range, AXSession& session);

private:
    struct Reading;
    void readElement(Reading& reading, AXSession& session);
    void readText(Reading& reading, AXSession& session);
    void log(const std::string& verdict, const DictationContext& context, const AXSession* session,
             double started, const std::optional<std::string>& role, WebEngine engine);

    // Both caches are emptied when an entry is about to be added past this many.
    static constexpr std::size_t cacheLimit = 256;

    AccessibilityBackend& m_backend;
    SecureInput& m_secureInput;
    Ticking m_ticking;
    // Never held across an accessibility call.
    std::mutex m_lock;
    std::map<std::int32_t, std::pair<std::optional<std::string>, WebEngine>> m_engines;
    std::map<std::int32_t, std::optional<std::string>> m_enabled;
};

} // namespace talverin
