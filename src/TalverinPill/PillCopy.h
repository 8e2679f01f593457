#pragma once

#include "TalverinCore/HoldKey.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/RefuseReason.h"
#include "TalverinPill/PillLang.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// Every word the pill shows, announces or puts in its menu, in one language. Pure: any thread.
class PillCopy {
public:
    // A refusal as the pill shows it: a title and, for most reasons, a detail under it.
    struct Refusal {
        std::string title;
        std::optional<std::string> detail;

        bool operator==(const Refusal&) const = default;
    };

    explicit PillCopy(PillLang lang) : m_lang(lang) {}

    PillLang lang() const { return m_lang; }

    // The fixed texts. They keep the typographic apostrophe, en dash and ellipsis; the
    // shortcut hints name the keys as this desktop's keyboards and our pages do.
    std::string_view listening() const { return pick("Listening…", "Слушаю…"); }
    std::string_view polishing() const { return pick("Polishing…", "Шлифую текст…"); }
    std::string_view inserted() const { return pick("Inserted", "Вставлено"); }
    std::string_view undoHint() const { return pick("Ctrl+Z – undo", "Ctrl+Z – отменить"); }
    std::string_view voiceEdit() const { return pick("What to change?", "Что изменить?"); }
    std::string_view copied() const { return pick("Copied", "Скопировано"); }
    std::string_view pasteHint() const { return pick("Ctrl+V – paste", "Ctrl+V – вставить"); }
    std::string_view learned() const { return pick("Added to words", "Добавлено в слова"); }
    std::string_view offline() const { return pick("Offline", "Нет сети"); }
    std::string_view offlineDetail() const {
        return pick("recognised on this computer", "распознано на этом компьютере");
    }
    std::string_view silence() const { return pick("Can’t hear you", "Вас не слышно"); }
    std::string_view silenceNoMic() const {
        return pick("check the microphone", "проверьте микрофон");
    }
    std::string_view limit() const {
        return pick("Today’s limit reached", "Лимит на сегодня исчерпан");
    }
    std::string_view notInserted() const { return pick("Not inserted", "Не вставлено"); }
    std::string_view stop() const { return pick("Stop", "Остановить"); }
    std::string_view handsFree() const { return pick("Hands-free", "Без рук"); }
    std::string_view hoverLead() const { return pick("Hold", "Держите"); }
    std::string_view micButton() const { return pick("Hands-free dictation", "Диктовка без рук"); }
    std::string_view menuMicrophone() const { return pick("Microphone", "Микрофон"); }
    std::string_view menuAutomatic() const { return pick("Automatic", "Авто"); }
    std::string_view menuHideForAnHour() const { return pick("Hide for an hour", "Скрыть на час"); }
    std::string_view menuResetSpot() const {
        return pick("Back to bottom centre", "Вернуть вниз по центру");
    }
    std::string_view menuSettings() const { return pick("Settings…", "Настройки…"); }

    // The display name of a hold key, as the settings pages name it but in running text:
    // "F13", "fn", "right Alt" in English, "правый Alt" in Russian.
    static std::string keyName(HoldKey key, PillLang lang);
    std::string hoverKey(HoldKey key) const { return keyName(key, m_lang); }

    // The voice edit's detail for the number of selected words; none below one word.
    std::optional<std::string> selected(std::int64_t count) const;

    // The Russian plural form of a count: `one` for 1, 21, 101; `few` for 2, 3, 4, 22; `many`
    // for 0, 5, 11 to 14, 25. A negative count takes the form of its magnitude. Exact for every
    // value, the smallest included.
    static std::string_view russianPlural(std::int64_t n, std::string_view one,
                                          std::string_view few, std::string_view many);

    // The silence detail: the microphone's name trimmed, or the check-the-microphone text when
    // there is no name or nothing is left of it.
    std::string silenceDetail(const std::optional<std::string>& microphone) const;

    Refusal refused(RefuseReason reason) const;

    // What a screen reader announces when the state is shown; none for the states that last
    // while a dictation runs, and for hidden.
    std::optional<std::string> announcement(const PillState& state,
                                            const std::optional<std::string>& microphone) const;

    // The hands-free timer, "m:ss" below an hour and "h:mm:ss" from then on. Any value gives a
    // text: not a number and infinity read "0:00", negative times count as 0, and times beyond
    // 2^31 - 1 seconds stop there.
    static std::string timer(double elapsed);

    bool operator==(const PillCopy&) const = default;

private:
    std::string_view pick(std::string_view en, std::string_view ru) const {
        return m_lang == PillLang::ru ? ru : en;
    }

    PillLang m_lang;
};

} // namespace talverin
