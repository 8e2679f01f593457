#include "Talverin/App/EditKey.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace talverin {
namespace {

constexpr auto ctrl = EditKey::control;
constexpr auto shift = EditKey::shift;
constexpr auto alt = EditKey::alt;
constexpr auto super = EditKey::super;

const EditKey::Answer pass{std::nullopt, true};
const EditKey::Answer quit{std::nullopt, false};
EditKey::Answer run(EditAction action) { return {action, false}; }

TEST(EditKey, MapsShortcutsInLatinAndRussianLayouts) {
    struct Case {
        const char* what;
        std::optional<std::string> chars;
        int keyCode;
        std::uint32_t modifiers;
        EditKey::Answer expected;
    };
    const Case cases[] = {
        {"copy", "c", 54, ctrl, run(EditAction::copy)},
        {"cut", "x", 53, ctrl, run(EditAction::cut)},
        {"paste", "v", 55, ctrl, run(EditAction::paste)},
        {"select all", "a", 38, ctrl, run(EditAction::selectAll)},
        {"undo", "z", 52, ctrl, run(EditAction::undo)},
        {"redo", "Z", 52, ctrl | shift, run(EditAction::redo)},
        {"quit", "q", 24, ctrl, quit},
        {"upper case is the same key", "C", 54, ctrl, run(EditAction::copy)},
        // The letter typed decides in a Latin layout, not the key: Dvorak's "c" is elsewhere.
        {"Dvorak c", "c", 31, ctrl, run(EditAction::copy)},
        {"Latin letter on the c key", "j", 54, ctrl, pass},
        // A Russian layout types Cyrillic: the key decides.
        {"Russian с copies", "\u0441", 54, ctrl, run(EditAction::copy)},
        {"Russian й quits", "\u0439", 24, ctrl, quit},
        {"Russian я undoes", "\u044f", 52, ctrl, run(EditAction::undo)},
        {"Russian Я redoes", "\u042f", 52, ctrl | shift, run(EditAction::redo)},
        {"Russian key outside the table", "\u0448", 31, ctrl, pass},
        {"shift only has redo", "x", 53, ctrl | shift, pass},
        {"shift quit is no quit", "q", 24, ctrl | shift, pass},
        {"alt", "c", 54, ctrl | alt, pass},
        {"super", "c", 54, ctrl | super, pass},
        {"no control", "c", 54, 0, pass},
        {"shift alone", "c", 54, shift, pass},
        {"types nothing", std::nullopt, 54, ctrl, pass},
        {"types the empty text", "", 54, ctrl, pass},
        {"two letters", "cc", 54, ctrl, pass},
        {"other letter", "b", 56, ctrl, pass},
    };
    for (const Case& c : cases) {
        const auto answer = EditKey::of(c.chars, c.keyCode, c.modifiers);
        EXPECT_EQ(answer, c.expected) << c.what;
    }
}

} // namespace
} // namespace talverin
