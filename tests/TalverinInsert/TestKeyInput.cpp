#include "TalverinInsert/KeyEvents.h"
#include "TalverinInsert/PasteKey.h"
#include "TalverinInsert/TypingFallback.h"

#include "Runtime/Unicode.h"

#include <gtest/gtest.h>

#include <map>

namespace talverin {
namespace {

using TypingFallback::LineBreak;
using TypingFallback::Piece;

std::u16string u(std::string_view text) {
    return Unicode::toUtf16(text);
}

TEST(TypingFallback, CutsTextIntoPiecesOfAtMostTwentyUnits) {
    const std::string letters45(45, 'a');
    const std::string emoji = "\U0001F600";                                  // two units
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // eight units
    const struct {
        const char* name;
        std::string text;
        std::vector<Piece> pieces;
    } cases[] = {
        {"two words on two lines", "hello\nworld", {u("hello"), LineBreak{}, u("world")}},
        {"45 letters",
         letters45,
         {std::u16string(20, u'a'), std::u16string(20, u'a'), std::u16string(5, u'a')}},
        {"an emoji across the edge",
         std::string(19, 'b') + emoji + "c",
         {std::u16string(19, u'b'), u(emoji + "c")}},
        {"a family is one character",
         std::string(15, 'd') + family,
         {std::u16string(15, u'd'), u(family)}},
        {"CRLF is one line break", "one\r\ntwo", {u("one"), LineBreak{}, u("two")}},
        {"a leading line break", "\nx", {LineBreak{}, u("x")}},
        {"every kind of line break",
         "a\u2028b\u0085\rc",
         {u("a"), LineBreak{}, u("b"), LineBreak{}, LineBreak{}, u("c")}},
        {"nothing", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TypingFallback::pieces(c.text), c.pieces);
    }
    // One character longer than twenty units is a piece of its own: a tag sequence of 24.
    std::string tag = "\U0001F3F4";
    for (int i = 0; i < 10; ++i)
        tag += "\U000E0061";
    tag += "\U000E007F";
    EXPECT_EQ(TypingFallback::pieces("x" + tag + "y"),
              (std::vector<Piece>{u("x"), u(tag), u("y")}));
    EXPECT_TRUE(TypingFallback::defaultBundleIDs().empty());
}

TEST(KeyEvents, ThePasteChordAndTypedPiecesCarryTheMarker) {
    using KeyEvents::KeyEvent;
    EXPECT_EQ(KeyEvents::marker, 0x544C5652u); // "TLVR"
    const auto paste = KeyEvents::paste(47);
    EXPECT_EQ(paste, (std::vector<KeyEvent>{
                         {.keyCode = 55, .down = true, .modifiers = 0x100008},
                         {.keyCode = 47, .down = true, .modifiers = 0x100008},
                         {.keyCode = 47, .down = false, .modifiers = 0x100008},
                         {.keyCode = 55, .down = false, .modifiers = 0},
                     }));
    const auto typed = KeyEvents::typing(TypingFallback::pieces("hi\nyou"));
    EXPECT_EQ(typed, (std::vector<KeyEvent>{
                         {.keyCode = 0, .down = true, .text = u("hi")},
                         {.keyCode = 0, .down = false, .text = u("hi"), .pauseAfter = 0.002},
                         {.keyCode = 36, .down = true, .modifiers = 0x20000},
                         {.keyCode = 36, .down = false, .modifiers = 0x20000, .pauseAfter = 0.002},
                         {.keyCode = 0, .down = true, .text = u("you")},
                         {.keyCode = 0, .down = false, .text = u("you")},
                     }));
    for (const auto& event : paste)
        EXPECT_EQ(event.marker, KeyEvents::marker);
    for (const auto& event : typed)
        EXPECT_EQ(event.marker, KeyEvents::marker);
    // A source's own modifier bits never leak into an event; its other bits stay.
    EXPECT_EQ(KeyEvents::flags(0x1000000 | 0x80000 | 0x2000 | 0x1, KeyEvents::shift),
              0x1000000u | 0x20000u);
}

// A layout from a table of (key, modifier state) to text.
PasteKey::Layout layout(std::map<std::pair<std::uint16_t, int>, std::u16string> keys,
                        std::optional<std::string> name = "Test") {
    return {
        std::move(name), true,
        [keys = std::move(keys)](std::uint16_t key, int state) -> std::optional<std::u16string> {
            auto it = keys.find({key, state});
            if (it == keys.end())
                return std::nullopt;
            return it->second;
        }};
}

TEST(PasteKey, FindsTheKeyThatTypesV) {
    const struct {
        const char* name;
        PasteKey::Layout layout;
        std::uint16_t key;
    } cases[] = {
        {"US", layout({{{9, 1}, u"v"}, {{9, 0}, u"v"}}), 9},
        {"v elsewhere, upper case", layout({{{9, 1}, u"."}, {{47, 1}, u"V"}}), 47},
        {"v only without Command", layout({{{9, 1}, u"."}, {{30, 0}, u"v"}}), 30},
        {"Command beats no modifier", layout({{{20, 0}, u"v"}, {{40, 1}, u"v"}}), 40},
        {"switches to QWERTY under Command",
         layout({{{47, 1}, u"v"}}, "Dvorak - QWERTY \xE2\x8C\x98"), 9},
        {"no v anywhere", layout({{{9, 1}, u"."}}), 9},
        {"no key map", PasteKey::Layout{"Broken", false, nullptr}, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PasteKey::keyCode(c.layout), c.key);
    }
}

} // namespace
} // namespace talverin
