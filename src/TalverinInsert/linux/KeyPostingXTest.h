#pragma once

#include "Runtime/Result.h"
#include "Runtime/SyntheticInput.h"
#include "TalverinInsert/KeyPosting.h"
#include "TalverinInsert/TypingFallback.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <mutex>
#include <string>
#include <vector>

struct _XDisplay;

namespace talverin {

enum class KeyPostingError {
    noDisplay, // the X display could not be opened
    noXTest,   // the server has no XTEST extension
};

// Synthetic keys through XTest on an X connection of its own. The paste chord is Control with
// the key that types "v" in the layout; typed text uses each character's own key and level, and
// a spare keycode, mapped to the character until another one needs the key or the connection
// closes, for characters the layout lacks; control characters are never typed. Every key event
// is announced to the key tap before it goes out, so the tap leaves exactly those out.
class KeyPostingXTest final : public KeyPosting, public PasteKeyResolver {
public:
    // The keycode of "v" in the US layout, used when no layout has it.
    static constexpr std::uint16_t defaultPasteKey = 55;

    // `display` names the X display; empty means $DISPLAY.
    static Result<std::unique_ptr<KeyPostingXTest>, KeyPostingError>
    create(std::shared_ptr<SyntheticInput> synthetic, const std::string& display = {});
    ~KeyPostingXTest() override;
    KeyPostingXTest(const KeyPostingXTest&) = delete;
    KeyPostingXTest& operator=(const KeyPostingXTest&) = delete;

    bool postPaste(std::uint16_t keyCode) override;
    TypingResult typeText(const std::string& text) override;
    std::uint16_t pasteKey() override;

    // Waits between two typed pieces; tests replace it.
    std::function<void(double seconds)> pause;

private:
    KeyPostingXTest(std::shared_ptr<SyntheticInput> synthetic, _XDisplay* display);

    struct Stroke;
    // A keycode the layout leaves empty, mapped by this connection to one symbol.
    struct SpareKey {
        std::uint8_t keycode = 0;
        unsigned long symbol = 0; // KeySym
        std::uint64_t lastUse = 0;
    };
    bool typeCodePoint(char32_t c);
    std::optional<std::pair<int, int>> layoutKeyFor(unsigned long symbol, int group);
    bool canMapSpareKey();
    bool everyCharacterHasAKey(const std::vector<TypingFallback::Piece>& pieces);
    // Announces the key event to the key tap, then posts it.
    void post(std::uint8_t keycode, bool down);
    std::uint8_t spareKeyFor(unsigned long symbol, int minKey, int maxKey);
    bool isSpareKey(int keycode) const;
    void restoreSpareKeys();
    void tap(const Stroke& stroke);
    // Releases the modifiers the user holds; answers them, to be pressed again after the post.
    std::vector<std::uint8_t> releaseHeldModifiers();
    void pressAgain(const std::vector<std::uint8_t>& keycodes);
    void connectionBroke() { m_lost = true; }

    std::shared_ptr<SyntheticInput> m_synthetic;
    _XDisplay* m_display;
    // One post at a time: a typed piece must not interleave with a paste chord.
    std::mutex m_mutex;
    bool m_lost = false;
    // Spare keys keep their symbols until another symbol needs the key or the connection
    // closes: a client looks a key up in the mapping it fetches when it reads the event, which
    // may be long after the key went out.
    std::vector<SpareKey> m_spareKeys;
    std::uint64_t m_spareUses = 0;
};

} // namespace talverin
