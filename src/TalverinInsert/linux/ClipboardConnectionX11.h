#pragma once

#include "TalverinInsert/ClipItem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <X11/Xlib.h>

namespace talverin {

// The X connection of the clipboard (PasteboardX11) and all it holds: what we offer while we
// own the clipboard, the transfers under way, and what our own requests wait for. Its work
// is spread over the files named after it by responsibility: the events and waits (this
// name), the selection owner that answers other applications (ClipboardOwnerX11), the reader
// of another owner's clipboard (ClipboardReaderX11), and the watch for the focused
// application's read of a paste (ClipboardServedX11).
struct ClipboardConnectionX11 {
    struct Target {
        Atom target = None;
        Atom type = None;
        int format = 8;
        std::string data;
        bool text = false;
    };
    // An answer too large for one property, sent in pieces as the requestor deletes each.
    struct Outgoing {
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        int format = 8;
        std::string data;
        std::size_t offset = 0;
        bool text = false;
        std::int64_t count = 0;
    };
    struct Read {
        Atom type = None;
        int format = 8;
        std::string data;
    };
    enum class ReadFailure { refused, timedOut, tooLarge };
    static constexpr double drainBound = 30.0;
    Display* display = nullptr;
    Window window = None;
    int fixesEvent = 0;
    bool hasXRes = false;
    // Set on the queue's thread, read by the watcher too.
    std::atomic<bool> lost = false;
    Atom clipboard, targets, timestamp, multiple, incr, utf8, textPlain, atomPair, manager,
        saveTargets, hint, property, stamp, deleteTarget, insertSelection, insertProperty;
    std::int64_t count = 0;
    // What we offer while we own the clipboard.
    bool owner = false;
    Time ownedSince = CurrentTime;
    std::int64_t ownCount = -1;
    std::vector<Target> offered;
    std::deque<Outgoing> outgoing;
    // The last of our contents that the focused application has read as text.
    std::int64_t servedCount = -1;

    // What our own requests are waiting for.
    std::optional<XSelectionEvent> notified;
    bool newValue = false;
    std::optional<Time> stampTime;
    Atom atom(const char* name) { return XInternAtom(display, name, False); }
    std::string name(Atom a);
    std::size_t chunkBytes() const {
        const long units = XMaxRequestSize(display);
        return static_cast<std::size_t>(std::clamp(units * 4 - 1024, 4096L, 256L * 1024));
    }

    // ---- events

    // One call at a time, whichever thread makes it. Replies read during a call may bring
    // events with them, which then wait in Xlib's queue where the watcher cannot see them:
    // every call handles them before it returns.
    std::mutex calls;
    struct Call {
        explicit Call(ClipboardConnectionX11& impl) : x(impl), lock(impl.calls) {}
        ~Call() { x.pump(); }
        ClipboardConnectionX11& x;
        std::unique_lock<std::mutex> lock;
    };
    std::int64_t syncedCount();
    void pump();
    bool waitUntil(const std::function<bool()>& done, double deadline);
    void handle(XEvent& event);
    void disown();
    Time serverTime();

    // ---- answering requests for the clipboard we own

    const Target* find(Atom target) const {
        for (const auto& t : offered)
            if (t.target == target)
                return &t;
        return nullptr;
    }

    void answer(const XSelectionRequestEvent& request);
    bool answerMultiple(Window requestor, Atom into);
    bool convert(Window requestor, Atom target, Atom into);
    void continueOutgoing(Window requestor, Atom into);

    // ---- who reads

    void deliveredText(Window requestor, std::int64_t of);
    struct Client {
        XID base = 0;
        long pid = -1;
    };
    std::optional<Client> clientOf(Window w);
    Window focusedWindow();
    bool isFocusedClient(Window requestor);

    // ---- reading another owner's clipboard

    Window currentOwner() { return XGetSelectionOwner(display, clipboard); }

    std::variant<Read, ReadFailure> request(Atom target, std::int64_t maxBytes, double bound);
    ReadFailure drain();
    std::optional<std::vector<Atom>> foreignTargets(double bound);

    // Targets that are requests of their own rather than data.
    bool isMeta(Atom a) const {
        return a == targets || a == timestamp || a == multiple || a == saveTargets ||
               a == deleteTarget || a == insertSelection || a == insertProperty || a == None;
    }

    // ---- writing

    std::vector<Target> targetsFor(const std::vector<ClipItem>& items);
    std::vector<ClipItem> offeredItems();

    static double now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // The size in bytes of one element of a property as Xlib hands it over: format 32 comes as
    // longs, format 16 as shorts.
    static std::size_t unitOf(int format) {
        switch (format) {
        case 32:
            return sizeof(long);
        case 16:
            return sizeof(short);
        default:
            return 1;
        }
    }
    // A saved target keeps its own type and format where they differ from the plain case (the
    // target as its type, bytes), written into the entry's type after the target's name.
    static std::string entryType(const std::string& target, const std::string& type, int format) {
        if (type == target && format == 8)
            return target;
        return target + "\n" + type + "\n" + std::to_string(format);
    }
};

} // namespace talverin
