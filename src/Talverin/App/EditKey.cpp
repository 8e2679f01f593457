#include "Talverin/App/EditKey.h"

#include <algorithm>
#include <cctype>

namespace talverin {

namespace {

EditKey::Answer passThrough() { return {std::nullopt, true}; }
EditKey::Answer run(EditAction action) { return {action, false}; }

// The letter a physical key stands for, for layouts whose letters are not Latin: the X11
// keycodes of the keys that type a, z, x, c, v and q on a US keyboard.
std::optional<char> letterOfKey(int keyCode) {
    switch (keyCode) {
    case 38:
        return 'a';
    case 52:
        return 'z';
    case 53:
        return 'x';
    case 54:
        return 'c';
    case 55:
        return 'v';
    case 24:
        return 'q';
    default:
        return std::nullopt;
    }
}

} // namespace

EditKey::Answer EditKey::of(const std::optional<std::string>& chars, int keyCode,
                            std::uint32_t modifiers) {
    const std::uint32_t chord = modifiers & (control | alt | super);
    if (chord != control || !chars)
        return passThrough();
    // Only ASCII letters decide below, and no other character lower-cases to one of them, so
    // lower-casing ASCII is enough.
    std::string typed = *chars;
    std::transform(typed.begin(), typed.end(), typed.begin(), [](unsigned char c) {
        return static_cast<char>(c < 0x80 ? std::tolower(c) : c);
    });
    if (typed.empty())
        return passThrough();
    const bool latin = std::none_of(typed.begin(), typed.end(),
                                    [](unsigned char c) { return c >= 0x80; });
    if (!latin) {
        const auto letter = letterOfKey(keyCode);
        if (!letter)
            return passThrough();
        typed = std::string(1, *letter);
    }
    if (modifiers & shift)
        return typed == "z" ? run(EditAction::redo) : passThrough();
    if (typed == "x")
        return run(EditAction::cut);
    if (typed == "c")
        return run(EditAction::copy);
    if (typed == "v")
        return run(EditAction::paste);
    if (typed == "a")
        return run(EditAction::selectAll);
    if (typed == "z")
        return run(EditAction::undo);
    if (typed == "q")
        return {std::nullopt, false};
    return passThrough();
}

} // namespace talverin
