#include "TalverinInsert/ClipboardKeeper.h"

#include "TalverinCore/CoreLog.h"

namespace talverin {

ClipboardKeeper::ClipboardKeeper(PasteboardAccessing& board, std::string source,
                                 std::int64_t maxBytes)
    : m_board(board), m_source(std::move(source)), m_maxBytes(maxBytes) {}

ClipboardKeeper::Capture ClipboardKeeper::capture() {
    switch (access()) {
    case Access::deny:
        return Skip::denied;
    case Access::ask:
        return Skip::promptRisk;
    case Access::allow:
        break;
    }
    // An owner that does not deliver is retried once and then skipped, never taken for an
    // empty clipboard (restoring that would erase what the user had).
    bool unanswered = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::int64_t before = m_board.changeCount();
        const auto types = m_board.itemTypes();
        unanswered = !types.ok();
        if (!types.ok())
            continue;
        for (const auto& item : *types)
            for (const auto& type : item)
                if (PasteboardTypes::isNoRestore(type))
                    return Skip::concealed;
        auto read = m_board.readItems(m_maxBytes);
        if (!read.ok()) {
            if (read.error() == PasteboardError::tooLarge)
                return Skip::tooLarge;
            unanswered = true;
            continue;
        }
        if (m_board.changeCount() == before)
            return Snapshot{before, std::move(read).value()};
    }
    return unanswered ? Skip::unanswered : Skip::changing;
}

std::int64_t ClipboardKeeper::prepare() {
    ++m_generation;
    const std::int64_t now = m_board.changeCount();
    if (m_pending && m_pending->ours == now) {
        // Our last pasted text is still there: the user's real clipboard is the one held.
        m_prepared = Prepared{now, m_pending->snapshot, m_generation};
        return m_generation;
    }
    Capture captured = capture();
    const std::int64_t validAt =
        std::holds_alternative<Snapshot>(captured) ? std::get<Snapshot>(captured).changeCount : now;
    m_prepared = Prepared{validAt, std::move(captured), m_generation};
    return m_generation;
}

ClipboardKeeper::Capture ClipboardKeeper::userClipboard() {
    const std::int64_t now = m_board.changeCount();
    if (m_pending && m_pending->ours == now) {
        Snapshot snapshot = std::move(m_pending->snapshot);
        m_pending.reset();
        m_prepared.reset();
        return snapshot;
    }
    m_pending.reset();
    if (m_prepared && m_prepared->validAt == now) {
        Capture result = std::move(m_prepared->result);
        m_prepared.reset();
        return result;
    }
    m_prepared.reset();
    return capture();
}

std::optional<ClipboardKeeper::Skip> ClipboardKeeper::checkUserClipboard() {
    const std::int64_t now = m_board.changeCount();
    // Our last pasted text is still there: the held snapshot is the user's clipboard.
    if (m_pending && m_pending->ours == now)
        return std::nullopt;
    if (!m_prepared || m_prepared->validAt != now) {
        // Read now and held where the paste's write looks, so it is not read twice.
        const std::int64_t generation = m_prepared ? m_prepared->generation : m_generation;
        Capture captured = capture();
        const std::int64_t validAt = std::holds_alternative<Snapshot>(captured)
                                         ? std::get<Snapshot>(captured).changeCount
                                         : now;
        m_prepared = Prepared{validAt, std::move(captured), generation};
    }
    if (const auto* skip = std::get_if<Skip>(&m_prepared->result))
        return *skip;
    return std::nullopt;
}

std::optional<ClipboardKeeper::Ticket> ClipboardKeeper::writeForPaste(const std::string& text) {
    Capture user = userClipboard();
    const bool restores = std::holds_alternative<Snapshot>(user);
    if (!m_board.write({ClipItem::text(text, restores, m_source)}).ok()) {
        // The user's clipboard is still there; keep what we know of it for the next paste.
        ++m_generation;
        m_prepared = Prepared{m_board.changeCount(), std::move(user), m_generation};
        return std::nullopt;
    }
    const std::int64_t written = m_board.changeCount();
    if (restores) {
        m_pending = Pending{written, std::get<Snapshot>(std::move(user))};
        return Ticket{written, true, std::nullopt};
    }
    return Ticket{written, false, std::get<Skip>(user)};
}

bool ClipboardKeeper::writePlain(const std::string& text) {
    m_pending.reset();
    m_prepared.reset();
    return m_board.write({ClipItem::text(text, false, m_source)}).ok();
}

void ClipboardKeeper::restore(std::int64_t changeCount) {
    if (!m_pending || m_pending->ours != changeCount)
        return;
    Snapshot snapshot = std::move(m_pending->snapshot);
    m_pending.reset();
    if (m_board.changeCount() != changeCount) {
        CoreLog::write("Inserter: clipboard kept (changed after the paste)");
        return;
    }
    // A restore that could not take the clipboard leaves our text there: say so rather than
    // report the user's clipboard as back.
    if (const auto written = m_board.write(snapshot.items); !written.ok()) {
        CoreLog::write("Inserter: clipboard not restored (" +
                       std::string(toString(written.error())) + ")");
        return;
    }
    if (snapshot.items.empty())
        CoreLog::write("Inserter: clipboard cleared (it was empty)");
    else
        CoreLog::write("Inserter: clipboard restored items=" +
                       std::to_string(snapshot.items.size()));
}

void ClipboardKeeper::restorePending() {
    if (m_pending)
        restore(m_pending->ours);
}

void ClipboardKeeper::dropPrepared(std::int64_t generation) {
    if (m_prepared && m_prepared->generation == generation)
        m_prepared.reset();
}

void ClipboardKeeper::dropPending(std::int64_t ours) {
    if (m_pending && m_pending->ours == ours)
        m_pending.reset();
}

} // namespace talverin
