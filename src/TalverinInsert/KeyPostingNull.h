#pragma once

#include "TalverinInsert/KeyEvents.h"
#include "TalverinInsert/KeyPosting.h"

#include <string>

namespace talverin {

// Key input when there is no display: nothing can be posted, and every post says so.
class KeyPostingNull final : public KeyPosting {
public:
    explicit KeyPostingNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    bool postPaste(std::uint16_t) override { return false; }
    TypingResult typeText(const std::string&) override {
        return {TypingResult::Kind::failed};
    }

private:
    std::string m_reason;
};

// The paste key when no layout can be read: the US layout's "v".
class PasteKeyDefault final : public PasteKeyResolver {
public:
    std::uint16_t pasteKey() override { return KeyEvents::vKey; }
};

} // namespace talverin
