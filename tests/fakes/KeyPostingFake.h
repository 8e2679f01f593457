#pragma once

#include "Runtime/MainQueue.h"
#include "TalverinInsert/KeyPosting.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talverin::test {

// Records what would have been posted, in order: "paste <key>" or "type <text>".
class KeyPostingFake final : public KeyPosting {
public:
    std::vector<std::string> posted;
    // Posts answer false (the display went away), and nothing is recorded.
    bool fail = false;

    bool postPaste(std::uint16_t keyCode) override {
        if (fail)
            return false;
        posted.push_back("paste " + std::to_string(keyCode));
        return true;
    }
    // Typing finds a character without a key, and types nothing.
    bool noKey = false;

    TypingResult typeText(const std::string& text) override {
        if (fail)
            return {TypingResult::Kind::failed};
        if (noKey)
            return {TypingResult::Kind::noKey};
        posted.push_back("type " + text);
        return {};
    }
};

// A layout whose "v" is on `key`; records whether it was asked on the main queue.
class PasteKeyResolverFake final : public PasteKeyResolver {
public:
    std::uint16_t key = 9;
    int calls = 0;
    int callsOnMain = 0;

    std::uint16_t pasteKey() override {
        ++calls;
        callsOnMain += MainQueue::isCurrent() ? 1 : 0;
        return key;
    }
};

} // namespace talverin::test
