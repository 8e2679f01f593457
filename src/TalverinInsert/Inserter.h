#pragma once

#include "Runtime/Bundle.h"
#include "Runtime/SerialQueue.h"
#include "TalverinCore/TextInserting.h"
#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/AXElementBox.h"
#include "TalverinInsert/ClipboardKeeper.h"
#include "TalverinInsert/InsertPlan.h"
#include "TalverinInsert/KeyPosting.h"
#include "TalverinInsert/SecureInput.h"
#include "TalverinInsert/Ticking.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace talverin {

// One reading of the focus at insertion time, compared with the element read at dictation
// start.
namespace FocusCheck {
struct Now {
    std::int32_t pid = 0;
    bool hasElement = false;
    std::optional<std::string> role;
    std::optional<std::string> subrole;
    bool same = false;
};
} // namespace FocusCheck

// Puts dictated text into the focused application: refuses, leaves it on the clipboard only,
// pastes it (putting the user's clipboard back afterwards, or leaving the text there), or
// types it. Everything that touches the clipboard, the accessibility service or key events
// runs on its own serial queue, so insertions, snapshots and restores never overlap.
class Inserter final : public TextInserting {
public:
    // The restore waits this long after the target read the pasted text ...
    static constexpr double restoreDelay = 0.8;
    // ... which it must do within this long of the paste, or the paste did not happen.
    static constexpr double restoreLimit = 5.0;
    // A snapshot that no insertion used is dropped after this long.
    static constexpr double snapshotLifetime = 600;
    // The focus check's patience, its pace, and each reading's messaging timeout.
    static constexpr double focusPatience = 0.25;
    static constexpr double focusPollInterval = 0.03;
    static constexpr int focusTimeoutMs = 100;

    struct Services {
        AccessibilityBackend& accessibility;
        PasteboardAccessing& pasteboard;
        KeyPosting& poster;
        PasteKeyResolver& pasteKey;
        SecureInput& secureInput;
        // This application's identifier: the clipboard's source, and how our own windows are
        // recognised.
        std::string source = Bundle::main().identifier();
        Ticking ticking = Ticking::system();
    };

    explicit Inserter(Services services);
    ~Inserter() override;

    // The environment probe; replaceable by tests.
    std::function<InsertEnvironment(const DictationContext&)> probe;

    void prepare() override;
    Future<InsertOutcome> insert(std::string text, DictationContext context) override;

    // The shell's last call at termination, from any thread but the inserter's queue: a
    // restore still waiting for the paste to be read runs at once (the process would take the
    // user's clipboard with it otherwise), then a clipboard we own goes to a clipboard manager.
    void quit();

    // Any thread.
    std::set<std::string> typingBundleIDs() const;
    void setTypingBundleIDs(std::set<std::string> ids);

    // The inserter's queue: whether the focus is still on the context's element; `last` gets
    // the last reading taken.
    FocusVerdict verifyFocus(const DictationContext& context,
                             std::optional<FocusCheck::Now>* last = nullptr);
    // The inserter's queue: what the keys would reach, from the focus check's last reading or,
    // when that does not tell, from a reading of its own.
    InsertTarget targetOf(const DictationContext& context, FocusVerdict verdict,
                          const std::optional<FocusCheck::Now>& last);
    std::optional<FocusCheck::Now> currentFocus(const AXElementBox& box);
    // The inserter's queue: puts the user's clipboard back once the pasted text was read.
    void scheduleRestore(const ClipboardKeeper::Ticket& ticket);

private:
    InsertOutcome run(const std::string& text, const DictationContext& context);
    InsertAction decide(const std::string& text, const DictationContext& context,
                        const InsertEnvironment& env);
    InsertTarget readTarget();
    InsertAction perform(InsertAction action, const std::string& text, std::string& extra);
    InsertAction typed(const std::string& text, std::string& extra);
    InsertAction failedPost(const std::string& text, bool onClipboard, std::string& extra,
                            std::string_view why = "failed");
    void dropHeldLater();

    // Lets callbacks from other threads reach the queue only while the inserter lives.
    struct Gate {
        std::mutex mutex;
        SerialQueue* queue = nullptr;
    };

    Services m_services;
    ClipboardKeeper m_keeper;
    mutable std::mutex m_lock;
    std::set<std::string> m_typing;
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    // Last, so it goes first: its due jobs run while everything they use is still here.
    SerialQueue m_queue;
};

} // namespace talverin
