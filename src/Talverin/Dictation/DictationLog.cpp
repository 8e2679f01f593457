#include "Talverin/Dictation/DictationLog.h"

#include <vector>

namespace talverin {
namespace {

std::string ms(std::int64_t value) {
    return std::to_string(value) + " ms";
}

} // namespace

std::string DictationLog::text() const {
    std::vector<std::string> parts;
    parts.push_back("Dictation: " + outcome);
    if (mode)
        parts.push_back("mode " + std::string(toString(*mode)));
    if (handsFree)
        parts.push_back("hands-free");
    parts.push_back("hold " + ms(holdMs));
    if (firstAudioMs)
        parts.push_back("first audio " + ms(*firstAudioMs));
    if (pillMs)
        parts.push_back("pill " + ms(*pillMs));
    if (contextMs)
        parts.push_back("context " + ms(*contextMs));
    parts.push_back("clip " + ms(clipMs) + ", end " + ms(endMs));
    if (!cloud.empty()) {
        std::string part = "cloud " + cloud;
        if (cloudMs)
            part += " " + ms(*cloudMs);
        if (serverMs)
            part += " (server " + ms(*serverMs) + ")";
        parts.push_back(std::move(part));
    }
    if (flushMs)
        parts.push_back("flush " + ms(*flushMs));
    if (draftMs)
        parts.push_back("draft " + ms(*draftMs));
    if (releaseToTextMs)
        parts.push_back("release\u2192text " + ms(*releaseToTextMs));
    if (insertMs)
        parts.push_back("insert " + ms(*insertMs));
    if (chars && words)
        parts.push_back(std::to_string(*words) + " words, " + std::to_string(*chars) + " chars");

    std::string line;
    for (const auto& part : parts) {
        if (!line.empty())
            line += ", ";
        line += part;
    }
    return line;
}

std::string logName(const PillState& state) {
    if (state.kind() == PillState::Kind::refused && state.reason())
        return "refused(" + std::string(toString(*state.reason())) + ")";
    return std::string(toString(state.kind()));
}

} // namespace talverin
