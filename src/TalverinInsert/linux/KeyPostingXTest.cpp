#include "TalverinInsert/linux/KeyPostingXTest.h"

#include "Runtime/linux/XErrorTrap.h"
#include "TalverinInsert/KeyEvents.h"
#include "TalverinInsert/TypingFallback.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace talverin {

namespace {

// Control characters are not text: a terminal takes the key of one as a command (an
// interrupt, an end of input), so none is ever typed. A tab is typed with the Tab key.
bool isControl(char32_t c) {
    return (c < 0x20 && c != U'\t') || (c >= 0x7f && c <= 0x9f);
}

KeySym keysymOf(char32_t c) {
    if (c == U'\t')
        return XK_Tab;
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return c;
    return 0x01000000 | c;
}

int currentGroup(Display* display) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return 0;
    return state.group;
}

bool capsLocked(Display* display) {
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success &&
           (state.locked_mods & LockMask) != 0;
}

// Pieces never split a surrogate pair; a lone surrogate is typed as the replacement character.
std::vector<char32_t> codePoints(const std::u16string& units) {
    std::vector<char32_t> result;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < units.size() && units[i + 1] >= 0xdc00 &&
            units[i + 1] <= 0xdfff) {
            result.push_back(0x10000 + ((u - 0xd800) << 10) + (units[i + 1] - 0xdc00));
            ++i;
        } else if (u >= 0xd800 && u <= 0xdfff) {
            result.push_back(0xfffd);
        } else {
            result.push_back(u);
        }
    }
    return result;
}

} // namespace

struct KeyPostingXTest::Stroke {
    KeyCode keycode = 0;
    bool shift = false;
};

Result<std::unique_ptr<KeyPostingXTest>, KeyPostingError>
KeyPostingXTest::create(std::shared_ptr<SyntheticInput> synthetic, const std::string& display) {
    XErrorTrap::initThreads();
    const char* name = display.empty() ? nullptr : display.c_str();
    Display* connection = XOpenDisplay(name);
    if (!connection)
        return fail(KeyPostingError::noDisplay,
                    std::string("cannot open display ") + XDisplayName(name));
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection, &event, &error, &major, &minor)) {
        XCloseDisplay(connection);
        return fail(KeyPostingError::noXTest, "the X server has no XTEST extension");
    }
    return std::unique_ptr<KeyPostingXTest>(new KeyPostingXTest(std::move(synthetic), connection));
}

KeyPostingXTest::KeyPostingXTest(std::shared_ptr<SyntheticInput> synthetic, _XDisplay* display)
    : pause([](double seconds) {
          std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      }),
      m_synthetic(std::move(synthetic)), m_display(display) {
    XErrorTrap::adopt(
        m_display, [](void* self) { static_cast<KeyPostingXTest*>(self)->connectionBroke(); },
        this);
}

KeyPostingXTest::~KeyPostingXTest() {
    restoreSpareKeys();
    XCloseDisplay(m_display);
    XErrorTrap::release(m_display);
}

std::uint16_t KeyPostingXTest::pasteKey() {
    std::lock_guard lock(m_mutex);
    if (m_lost)
        return defaultPasteKey;
    int minKey = 0;
    int maxKey = 0;
    XDisplayKeycodes(m_display, &minKey, &maxKey);
    // Applications match the chord by keycode in any group, so the current group is preferred
    // and any other ASCII-capable group of the layout serves as well.
    const int current = currentGroup(m_display);
    for (int pass = 0; pass < 2; ++pass)
        for (int group = 0; group < XkbNumKbdGroups; ++group) {
            if ((pass == 0) != (group == current))
                continue;
            for (int keycode = minKey; keycode <= maxKey; ++keycode)
                if (XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), group, 0) == XK_v)
                    return static_cast<std::uint16_t>(keycode);
        }
    return defaultPasteKey;
}

std::vector<std::uint8_t> KeyPostingXTest::releaseHeldModifiers() {
    std::vector<std::uint8_t> held;
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    XModifierKeymap* map = XGetModifierMapping(m_display);
    if (!map)
        return held;
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        const KeyCode keycode = map->modifiermap[i];
        // Caps Lock is a lock, not a held key: releasing it would toggle nothing, and it is
        // accounted for when levels are chosen.
        if (keycode == 0 || i / map->max_keypermod == LockMapIndex)
            continue;
        if (keys[keycode / 8] & (1 << (keycode % 8))) {
            post(keycode, false);
            held.push_back(keycode);
        }
    }
    XFreeModifiermap(map);
    return held;
}

void KeyPostingXTest::pressAgain(const std::vector<std::uint8_t>& keycodes) {
    for (const auto keycode : keycodes)
        post(keycode, true);
}

void KeyPostingXTest::post(std::uint8_t keycode, bool down) {
    // Announced first: the key tap may read the event before this call returns.
    if (m_synthetic)
        m_synthetic->announce(keycode,
                              down ? SyntheticInput::Stroke::press : SyntheticInput::Stroke::release);
    XTestFakeKeyEvent(m_display, keycode, down ? True : False, CurrentTime);
}

bool KeyPostingXTest::postPaste(std::uint16_t keyCode) {
    std::lock_guard lock(m_mutex);
    if (m_lost)
        return false;
    const auto held = releaseHeldModifiers();
    const KeyCode control = XKeysymToKeycode(m_display, XK_Control_L);
    const auto key = static_cast<std::uint8_t>(keyCode);
    post(control, true);
    post(key, true);
    post(key, false);
    post(control, false);
    pressAgain(held);
    XSync(m_display, False);
    return !m_lost;
}

void KeyPostingXTest::tap(const Stroke& stroke) {
    const KeyCode shift = XKeysymToKeycode(m_display, XK_Shift_L);
    if (stroke.shift)
        post(shift, true);
    post(stroke.keycode, true);
    post(stroke.keycode, false);
    if (stroke.shift)
        post(shift, false);
}

// The layout's own key and level for a symbol, leaving our spare keys out.
std::optional<std::pair<int, int>> KeyPostingXTest::layoutKeyFor(unsigned long symbol, int group) {
    int minKey = 0;
    int maxKey = 0;
    XDisplayKeycodes(m_display, &minKey, &maxKey);
    for (int keycode = minKey; keycode <= maxKey; ++keycode)
        for (int level = 0; level < 2 && !isSpareKey(keycode); ++level)
            if (XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), group, level) ==
                symbol)
                return std::pair{keycode, level};
    return std::nullopt;
}

// Whether a character the layout lacks can be given a key: a spare key we hold already, or a
// keycode the layout leaves empty.
bool KeyPostingXTest::canMapSpareKey() {
    if (!m_spareKeys.empty())
        return true;
    int minKey = 0;
    int maxKey = 0;
    XDisplayKeycodes(m_display, &minKey, &maxKey);
    int perKey = 0;
    KeySym* map =
        XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKey), maxKey - minKey + 1, &perKey);
    if (!map)
        return false;
    bool free = false;
    for (int keycode = minKey; keycode <= maxKey && !free; ++keycode) {
        const KeySym* symbols = map + static_cast<long>(keycode - minKey) * perKey;
        free = std::all_of(symbols, symbols + perKey, [](KeySym s) { return s == NoSymbol; });
    }
    XFree(map);
    return free;
}

// Every character of the text has a key, or can be given one.
bool KeyPostingXTest::everyCharacterHasAKey(const std::vector<TypingFallback::Piece>& pieces) {
    const int group = currentGroup(m_display);
    std::optional<bool> spare;
    for (const auto& piece : pieces) {
        const auto* text = std::get_if<std::u16string>(&piece);
        if (!text)
            continue;
        for (const char32_t c : codePoints(*text)) {
            if (isControl(c))
                return false;
            if (layoutKeyFor(keysymOf(c), group))
                continue;
            if (!spare)
                spare = canMapSpareKey();
            if (!*spare)
                return false;
        }
    }
    return true;
}

bool KeyPostingXTest::typeCodePoint(char32_t c) {
    if (isControl(c))
        return false;
    const KeySym wanted = keysymOf(c);
    const int group = currentGroup(m_display);
    const bool caps = capsLocked(m_display);
    if (const auto key = layoutKeyFor(wanted, group)) {
        // Caps Lock turns the levels of a letter key round; Shift turns them back.
        KeySym lower = 0;
        KeySym upper = 0;
        XConvertCase(wanted, &lower, &upper);
        const bool cased = lower != upper;
        tap({static_cast<KeyCode>(key->first), (key->second == 1) != (caps && cased)});
        return true;
    }

    int minKey = 0;
    int maxKey = 0;
    XDisplayKeycodes(m_display, &minKey, &maxKey);
    const KeyCode spare = spareKeyFor(wanted, minKey, maxKey);
    if (spare == 0)
        return false;
    // Caps Lock would turn the mapped letter's case round whatever level is pressed, so it is
    // let go for this one key. The key event carries the state it was pressed in.
    KeySym lower = 0;
    KeySym upper = 0;
    XConvertCase(wanted, &lower, &upper);
    const bool unlock = caps && lower != upper;
    if (unlock)
        XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, 0);
    tap({spare, false});
    if (unlock)
        XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, LockMask);
    return true;
}

bool KeyPostingXTest::isSpareKey(int keycode) const {
    return std::any_of(m_spareKeys.begin(), m_spareKeys.end(),
                       [&](const SpareKey& key) { return key.keycode == keycode; });
}

// The server handles this connection's requests in order and sends every client the mapping's
// notice before the key event, so the key needs no pause after the mapping. What no client
// tells is when it has looked the key up: it fetches the mapping when it reads its events, so
// a spare key is taken back or given another symbol only when no free one is left.
KeyCode KeyPostingXTest::spareKeyFor(KeySym symbol, int minKey, int maxKey) {
    int perKey = 0;
    KeySym* map =
        XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKey), maxKey - minKey + 1, &perKey);
    if (!map)
        return 0;
    auto symbolsOf = [&](int keycode) {
        return map + static_cast<long>(keycode - minKey) * perKey;
    };
    // A layout loaded since has taken the key back; it is no longer ours to use or restore.
    std::erase_if(m_spareKeys, [&](const SpareKey& key) {
        return perKey < 1 || key.keycode < minKey || key.keycode > maxKey ||
               symbolsOf(key.keycode)[0] != key.symbol;
    });
    auto chosen = std::find_if(m_spareKeys.begin(), m_spareKeys.end(),
                               [&](const SpareKey& key) { return key.symbol == symbol; });
    if (chosen == m_spareKeys.end()) {
        int free = 0;
        for (int keycode = maxKey; keycode >= minKey && free == 0; --keycode)
            if (std::all_of(symbolsOf(keycode), symbolsOf(keycode) + perKey,
                            [](KeySym s) { return s == NoSymbol; }))
                free = keycode;
        if (free != 0) {
            m_spareKeys.push_back({static_cast<std::uint8_t>(free), 0, 0});
            chosen = m_spareKeys.end() - 1;
        } else {
            chosen = std::min_element(
                m_spareKeys.begin(), m_spareKeys.end(),
                [](const SpareKey& a, const SpareKey& b) { return a.lastUse < b.lastUse; });
        }
        if (chosen != m_spareKeys.end()) {
            chosen->symbol = symbol;
            KeySym mapping[2] = {symbol, symbol};
            XChangeKeyboardMapping(m_display, chosen->keycode, 2, mapping, 1);
        }
    }
    XFree(map);
    if (chosen == m_spareKeys.end())
        return 0;
    chosen->lastUse = ++m_spareUses;
    return chosen->keycode;
}

void KeyPostingXTest::restoreSpareKeys() {
    if (m_lost || m_spareKeys.empty())
        return;
    for (const auto& key : m_spareKeys) {
        int count = 0;
        KeySym* syms = XGetKeyboardMapping(m_display, key.keycode, 1, &count);
        const bool ours = syms && count > 0 && syms[0] == key.symbol;
        if (syms)
            XFree(syms);
        if (!ours)
            continue;
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(m_display, key.keycode, 2, none, 1);
    }
    m_spareKeys.clear();
    XSync(m_display, False);
}

TypingResult KeyPostingXTest::typeText(const std::string& text) {
    using Kind = TypingResult::Kind;
    std::lock_guard lock(m_mutex);
    if (m_lost)
        return {Kind::failed};
    const auto pieces = TypingFallback::pieces(text);
    // A text with a hole in it would read as what the user said; nothing typed and the text
    // left to the caller is honest.
    if (!everyCharacterHasAKey(pieces))
        return {m_lost ? Kind::failed : Kind::noKey};
    const auto held = releaseHeldModifiers();
    bool typed = true;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (std::holds_alternative<TypingFallback::LineBreak>(pieces[i])) {
            // A plain Return would send a chat message or a form; Shift+Return breaks the line.
            tap({XKeysymToKeycode(m_display, XK_Return), true});
        } else {
            for (const char32_t c : codePoints(std::get<std::u16string>(pieces[i])))
                typed = typeCodePoint(c) && typed;
        }
        XSync(m_display, False);
        // The target takes each piece in turn before the next arrives.
        if (i + 1 < pieces.size())
            pause(KeyEvents::piecePause);
    }
    pressAgain(held);
    XSync(m_display, False);
    if (m_lost)
        return {Kind::failed};
    // Only a layout changed under us mid-text leaves a character without a key here.
    return {typed ? Kind::typed : Kind::failed};
}

} // namespace talverin
