#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinInsert/PasteboardAccessing.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace talverin {

// Keeps the user's clipboard across a paste: a snapshot at dictation start, the dictated text
// written with markers that clipboard managers skip, and the user's items put back afterwards
// unless something else has touched the clipboard since. Not thread-safe: every call runs on
// the inserter's queue.
class ClipboardKeeper {
public:
    static constexpr std::int64_t defaultMaxBytes = 64 * 1024 * 1024;

    // Why there is no snapshot to restore.
    enum class Skip {
        promptRisk, // reading would ask the user for permission
        denied,     // the user does not let us read the clipboard
        concealed,  // a password manager's or generator's content
        tooLarge,   // more than maxBytes
        changing,   // no stable read in two attempts
        unanswered, // the owner did not deliver in either attempt
    };

    // Whether the desktop lets us read the clipboard. X11 has no such control: always allow.
    enum class Access {
        allow,
        ask,
        deny,
    };

    struct Snapshot {
        std::int64_t changeCount = 0;
        std::vector<ClipItem> items;

        bool operator==(const Snapshot&) const = default;
    };
    using Capture = std::variant<Snapshot, Skip>;

    // What a paste write answers: the change count right after it, and whether the user's
    // clipboard is held for restoring (and why not).
    struct Ticket {
        std::int64_t changeCount = 0;
        bool restores = false;
        std::optional<Skip> skip;
    };

    struct Prepared {
        std::int64_t validAt = 0;
        Capture result;
        std::int64_t generation = 0;
    };
    struct Pending {
        std::int64_t ours = 0;
        Snapshot snapshot;
    };

    ClipboardKeeper(PasteboardAccessing& board, std::string source,
                    std::int64_t maxBytes = defaultMaxBytes);

    // Asked before every snapshot.
    std::function<Access()> access = [] { return Access::allow; };

    // Takes the snapshot at dictation start; answers the new generation.
    std::int64_t prepare();
    // Reads the user's clipboard for the coming paste (the snapshot, while it is current) and
    // answers why it cannot be held, or nothing when it is held; writeForPaste uses this
    // reading.
    std::optional<Skip> checkUserClipboard();
    // Writes the text for a paste that will be undone; nothing when the write failed.
    std::optional<Ticket> writeForPaste(const std::string& text);
    // Writes the text to stay the user's clipboard.
    bool writePlain(const std::string& text);
    // Puts the user's clipboard back after the paste of `changeCount`, unless a later paste
    // or dictation owns it now, or someone copied something since. Safe to call twice.
    void restore(std::int64_t changeCount);
    // Puts the user's clipboard back now if a paste still holds it (at quit).
    void restorePending();
    // Drops the snapshot of that generation, if it is still the one held.
    void dropPrepared(std::int64_t generation);
    // Drops the snapshot held under our text of `ours`, if it is still the one held.
    void dropPending(std::int64_t ours);

    PasteboardAccessing& board() { return m_board; }
    const std::string& source() const { return m_source; }
    const std::optional<Prepared>& prepared() const { return m_prepared; }
    const std::optional<Pending>& pending() const { return m_pending; }
    std::int64_t generation() const { return m_generation; }

private:
    Capture capture();
    Capture userClipboard();

    PasteboardAccessing& m_board;
    std::string m_source;
    std::int64_t m_maxBytes;
    std::optional<Prepared> m_prepared;
    std::optional<Pending> m_pending;
    std::int64_t m_generation = 0;
};

template <> struct EnumTable<ClipboardKeeper::Skip> {
    using Skip = ClipboardKeeper::Skip;
    static constexpr auto entries = std::to_array<EnumEntry<Skip>>({
        {Skip::promptRisk, "promptRisk"},
        {Skip::denied, "denied"},
        {Skip::concealed, "concealed"},
        {Skip::tooLarge, "tooLarge"},
        {Skip::changing, "changing"},
        {Skip::unanswered, "unanswered"},
    });
};

} // namespace talverin
