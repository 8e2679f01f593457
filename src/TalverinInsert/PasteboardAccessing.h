#pragma once

#include "TalverinInsert/ClipItem.h"
#include "TalverinCore/EnumTable.h"

#include "Runtime/Result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talverin {

// Why the clipboard could not be read or written.
enum class PasteboardError {
    tooLarge,   // the items' data add up to more than the limit
    unanswered, // the owner did not deliver them in time, or the clipboard is gone
    notTaken,   // the clipboard could not be taken for our items
};

template <> struct EnumTable<PasteboardError> {
    static constexpr auto entries = std::to_array<EnumEntry<PasteboardError>>({
        {PasteboardError::tooLarge, "too large"},
        {PasteboardError::unanswered, "unanswered"},
        {PasteboardError::notTaken, "not taken"},
    });
};

using PasteboardTypeLists = std::vector<std::vector<std::string>>;

// The desktop clipboard. Every member is called on the inserter's queue; when the clipboard
// is gone, reads answer as an unanswering owner would and writes fail.
class PasteboardAccessing {
public:
    virtual ~PasteboardAccessing() = default;

    // Grows with every change of the clipboard's content, by anyone.
    virtual std::int64_t changeCount() = 0;
    // The type identifiers of every item, in order; an empty list for an empty clipboard;
    // `unanswered` when the owner did not answer.
    virtual Result<PasteboardTypeLists, PasteboardError> itemTypes() = 0;
    // Every item with the data of each of its types, in order; types without data and items
    // left with no entry are left out. Gives up (`tooLarge`) as soon as the data exceed
    // `maxBytes`.
    virtual Result<std::vector<ClipItem>, PasteboardError> readItems(std::int64_t maxBytes) = 0;
    // Replaces the content with the items (an empty list empties the clipboard); `notTaken`
    // when the clipboard could not be taken.
    virtual Result<void, PasteboardError> write(const std::vector<ClipItem>& items) = 0;
    // Waits until the content of `changeCount` has been delivered as text (a text target, not
    // the list of targets) to the focused application, answering requests meanwhile: true. A
    // clipboard manager's read does not count. False when `timeout` seconds pass first or the
    // content is replaced; at once when the clipboard is gone.
    virtual bool waitServed(std::int64_t changeCount, double timeout) = 0;
    // At quit: a clipboard that we own would end with the process, so its content is handed to
    // a clipboard manager where one runs. True when a manager took it.
    virtual bool handOff() = 0;
    // Called once by the inserter with a way onto its queue; `post` answers false once the
    // queue is gone. A clipboard that must answer other applications while nobody calls it
    // (an X11 clipboard we own) hands what arrives for it to the queue this way.
    virtual void serveOn(std::function<bool(std::function<void()>)> post) { (void)post; }
};

} // namespace talverin
