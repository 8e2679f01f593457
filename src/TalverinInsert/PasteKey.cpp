#include "TalverinInsert/PasteKey.h"

#include "Runtime/Unicode.h"
#include "TalverinInsert/KeyEvents.h"

namespace talverin {

namespace {

bool givesV(const PasteKey::Layout& layout, std::uint16_t keyCode, int state) {
    const auto text = layout.translate ? layout.translate(keyCode, state) : std::nullopt;
    return text && !text->empty() && Unicode::lower(Unicode::toUtf8(*text)) == "v";
}

} // namespace

std::uint16_t PasteKey::keyCode(const Layout& layout) {
    if (!layout.hasKeyMap)
        return KeyEvents::vKey;
    if (layout.localizedName && layout.localizedName->find("⌘") != std::string::npos)
        return KeyEvents::vKey;
    if (givesV(layout, KeyEvents::vKey, commandState))
        return KeyEvents::vKey;
    for (int state : {commandState, noModifierState})
        for (std::uint16_t key = 0; key <= 127; ++key)
            if (givesV(layout, key, state))
                return key;
    return KeyEvents::vKey;
}

} // namespace talverin
