#include "TalverinInsert/linux/PasteboardX11.h"

#include "Runtime/Unicode.h"
#include "Runtime/linux/XErrorTrap.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>

namespace talverin {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The size in bytes of one element of a property as Xlib hands it over: format 32 comes as
// longs, format 16 as shorts.
std::size_t unitOf(int format) {
    switch (format) {
    case 32:
        return sizeof(long);
    case 16:
        return sizeof(short);
    default:
        return 1;
    }
}

// The text as STRING (Latin-1); nothing when it has a character outside Latin-1.
std::optional<std::string> latin1(std::string_view text) {
    std::string out;
    for (char16_t unit : Unicode::toUtf16(text)) {
        if (unit > 0xff)
            return std::nullopt;
        out.push_back(static_cast<char>(unit));
    }
    return out;
}

// A saved target keeps its own type and format where they differ from the plain case (the
// target as its type, bytes), written into the entry's type after the target's name.
std::string entryType(const std::string& target, const std::string& type, int format) {
    if (type == target && format == 8)
        return target;
    return target + "\n" + type + "\n" + std::to_string(format);
}

} // namespace

struct PasteboardX11::Impl {
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
    std::string name(Atom a) {
        if (a == None)
            return {};
        char* text = XGetAtomName(display, a);
        if (!text)
            return {};
        std::string result(text);
        XFree(text);
        return result;
    }

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
        explicit Call(Impl& impl) : x(impl), lock(impl.calls) {}
        ~Call() { x.pump(); }
        Impl& x;
        std::unique_lock<std::mutex> lock;
    };

    // Our own change of owner is reported only once the server has it.
    std::int64_t syncedCount() {
        if (!lost)
            XSync(display, False);
        pump();
        return count;
    }

    void pump() {
        while (!lost && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handle(event);
        }
    }

    // Handles what arrives until `done` holds or the deadline passes; answers `done()`.
    bool waitUntil(const std::function<bool()>& done, double deadline) {
        for (;;) {
            pump();
            if (done())
                return true;
            const double left = deadline - now();
            if (lost || left <= 0)
                return false;
            pollfd readable{ConnectionNumber(display), POLLIN, 0};
            ::poll(&readable, 1, static_cast<int>(left * 1000) + 1);
        }
    }

    void handle(XEvent& event) {
        if (event.type == fixesEvent + XFixesSelectionNotify) {
            if (reinterpret_cast<XFixesSelectionNotifyEvent&>(event).selection == clipboard)
                ++count;
            return;
        }
        switch (event.type) {
        case SelectionRequest:
            answer(event.xselectionrequest);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == clipboard)
                disown();
            break;
        case SelectionNotify:
            if (event.xselection.requestor == window)
                notified = event.xselection;
            break;
        case PropertyNotify:
            if (event.xproperty.window == window) {
                if (event.xproperty.atom == property && event.xproperty.state == PropertyNewValue)
                    newValue = true;
                if (event.xproperty.atom == stamp)
                    stampTime = event.xproperty.time;
            } else if (event.xproperty.state == PropertyDelete) {
                continueOutgoing(event.xproperty.window, event.xproperty.atom);
            }
            break;
        case DestroyNotify:
            std::erase_if(outgoing, [&](const Outgoing& o) {
                return o.requestor == event.xdestroywindow.window;
            });
            break;
        default:
            break;
        }
    }

    void disown() {
        owner = false;
        offered.clear();
        outgoing.clear();
    }

    // A server time for owning the clipboard: ICCCM asks for one, and TIMESTAMP answers it.
    Time serverTime() {
        stampTime.reset();
        unsigned char nothing = 0;
        XChangeProperty(display, window, stamp, XA_INTEGER, 8, PropModeAppend, &nothing, 0);
        XFlush(display);
        waitUntil([&] { return stampTime.has_value(); }, now() + requestTimeout);
        return stampTime.value_or(CurrentTime);
    }

    // ---- answering requests for the clipboard we own

    const Target* find(Atom target) const {
        for (const auto& t : offered)
            if (t.target == target)
                return &t;
        return nullptr;
    }

    void answer(const XSelectionRequestEvent& request) {
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = request.display;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.property = None;
        reply.time = request.time;
        // Clients from before ICCCM name no property: the target serves as one.
        const Atom into = request.property == None ? request.target : request.property;
        const bool current =
            request.time == CurrentTime || ownedSince == CurrentTime || request.time >= ownedSince;
        if (request.selection == clipboard && owner && current) {
            if (request.target == multiple) {
                if (request.property != None && answerMultiple(request.requestor, into))
                    reply.property = into;
            } else if (convert(request.requestor, request.target, into)) {
                reply.property = into;
            }
        }
        XSendEvent(display, request.requestor, False, NoEventMask,
                   reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
    }

    bool answerMultiple(Window requestor, Atom into) {
        Atom type = None;
        int format = 0;
        unsigned long n = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, requestor, into, 0, 1 << 16, False, AnyPropertyType, &type,
                               &format, &n, &after, &data) != Success ||
            !data)
            return false;
        // Another client's property: only a list of atom pairs is read as one.
        if (format != 32 || n % 2 != 0) {
            XFree(data);
            return false;
        }
        std::vector<Atom> pairs(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + n);
        XFree(data);
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
            if (pairs[i] == multiple || !convert(requestor, pairs[i], pairs[i + 1]))
                pairs[i + 1] = None;
        XChangeProperty(display, requestor, into, atomPair, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(pairs.data()),
                        static_cast<int>(pairs.size()));
        return true;
    }

    bool convert(Window requestor, Atom target, Atom into) {
        if (target == targets) {
            std::vector<Atom> list{targets, timestamp, multiple};
            for (const auto& t : offered)
                list.push_back(t.target);
            XChangeProperty(display, requestor, into, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(list.data()),
                            static_cast<int>(list.size()));
            return true;
        }
        if (target == timestamp) {
            long time = static_cast<long>(ownedSince);
            XChangeProperty(display, requestor, into, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&time), 1);
            return true;
        }
        const Target* offer = find(target);
        if (!offer)
            return false;
        if (offer->data.size() > chunkBytes()) {
            // The size goes first, then the data piece by piece as the requestor deletes each.
            long size = static_cast<long>(offer->data.size());
            XSelectInput(display, requestor, PropertyChangeMask | StructureNotifyMask);
            XChangeProperty(display, requestor, into, incr, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&size), 1);
            // A requestor that never takes its pieces leaves its transfer here; the oldest go.
            if (outgoing.size() >= 16)
                outgoing.pop_front();
            outgoing.push_back(Outgoing{requestor, into, offer->type, offer->format, offer->data, 0,
                                        offer->text, ownCount});
            return true;
        }
        XChangeProperty(display, requestor, into, offer->type, offer->format, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(offer->data.data()),
                        static_cast<int>(offer->data.size() / unitOf(offer->format)));
        if (offer->text)
            deliveredText(requestor, ownCount);
        return true;
    }

    void continueOutgoing(Window requestor, Atom into) {
        for (auto it = outgoing.begin(); it != outgoing.end(); ++it) {
            if (it->requestor != requestor || it->property != into)
                continue;
            const std::size_t unit = unitOf(it->format);
            std::size_t piece = std::min(chunkBytes(), it->data.size() - it->offset);
            piece -= piece % unit;
            XChangeProperty(display, requestor, into, it->type, it->format, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->data.data() + it->offset),
                            static_cast<int>(piece / unit));
            it->offset += piece;
            if (piece == 0) {
                // The empty piece ends the transfer.
                const bool text = it->text;
                const std::int64_t of = it->count;
                outgoing.erase(it);
                // The requestor's other transfers still need its events.
                if (std::none_of(outgoing.begin(), outgoing.end(),
                                 [&](const Outgoing& o) { return o.requestor == requestor; }))
                    XSelectInput(display, requestor, NoEventMask);
                if (text)
                    deliveredText(requestor, of);
            }
            XFlush(display);
            return;
        }
    }

    // ---- who reads

    void deliveredText(Window requestor, std::int64_t of) {
        if (of != ownCount || !owner || servedCount == of)
            return;
        if (isFocusedClient(requestor))
            servedCount = of;
    }

    struct Client {
        XID base = 0;
        long pid = -1;
    };
    std::optional<Client> clientOf(Window w) {
        if (!hasXRes || w == None)
            return std::nullopt;
        XResClientIdSpec spec{w, XRES_CLIENT_ID_XID_MASK | XRES_CLIENT_ID_PID_MASK};
        long n = 0;
        XResClientIdValue* values = nullptr;
        if (XResQueryClientIds(display, 1, &spec, &n, &values) != Success)
            return std::nullopt;
        Client client;
        for (long i = 0; i < n; ++i) {
            client.base = values[i].spec.client;
            if (const pid_t pid = XResGetClientPid(&values[i]); pid > 0)
                client.pid = pid;
        }
        XResClientIdsDestroy(n, values);
        return client;
    }

    Window focusedWindow() {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        if (focus != None && focus != PointerRoot)
            return focus;
        Atom type = None;
        int format = 0;
        unsigned long n = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        Window active = None;
        if (XGetWindowProperty(display, DefaultRootWindow(display), atom("_NET_ACTIVE_WINDOW"), 0,
                               1, False, XA_WINDOW, &type, &format, &n, &after, &data) == Success &&
            data) {
            if (n == 1 && format == 32)
                active = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
            XFree(data);
        }
        return active;
    }

    // Whether the requestor belongs to the focused application, rather than to a clipboard
    // manager copying what we offer. Processes are compared where the server knows them.
    bool isFocusedClient(Window requestor) {
        const auto reader = clientOf(requestor);
        const auto focused = clientOf(focusedWindow());
        if (!reader || !focused)
            return false;
        if (reader->pid > 0 && focused->pid > 0)
            return reader->pid == focused->pid;
        return reader->base == focused->base;
    }

    // ---- reading another owner's clipboard

    Window currentOwner() { return XGetSelectionOwner(display, clipboard); }

    std::variant<Read, ReadFailure> request(Atom target, std::int64_t maxBytes, double bound) {
        XDeleteProperty(display, window, property);
        notified.reset();
        XConvertSelection(display, clipboard, target, property, window, CurrentTime);
        XFlush(display);
        // A late answer to an earlier request is not this one's.
        if (!waitUntil([&] { return notified && notified->target == target; },
                       std::min(now() + requestTimeout, bound)))
            return ReadFailure::timedOut;
        if (notified->property == None)
            return ReadFailure::refused;
        Atom type = None;
        int format = 0;
        unsigned long n = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        // The size first, so that a huge property is never pulled over.
        if (XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type,
                               &format, &n, &after, &data) != Success)
            return ReadFailure::refused;
        if (data)
            XFree(data);
        if (type == None)
            return ReadFailure::refused;
        if (static_cast<std::int64_t>(after) > maxBytes) {
            XDeleteProperty(display, window, property);
            return ReadFailure::tooLarge;
        }
        newValue = false;
        data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                               &type, &format, &n, &after, &data) != Success)
            return ReadFailure::refused;
        Read read{type, format, {}};
        if (data) {
            read.data.assign(reinterpret_cast<char*>(data), n * unitOf(format));
            XFree(data);
        }
        XFlush(display);
        if (type != incr)
            return read;
        // Deleting the size told the owner to send; every piece is deleted to ask for the next,
        // and an empty piece ends it.
        long announced = 0;
        if (read.data.size() >= sizeof(long))
            std::memcpy(&announced, read.data.data(), sizeof(long));
        if (announced > maxBytes)
            return drain();
        Read whole{None, 8, {}};
        for (;;) {
            if (!waitUntil([&] { return newValue; }, std::min(now() + requestTimeout, bound)))
                return ReadFailure::timedOut;
            newValue = false;
            data = nullptr;
            if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True,
                                   AnyPropertyType, &type, &format, &n, &after, &data) != Success)
                return ReadFailure::refused;
            XFlush(display);
            const std::size_t bytes = data ? n * unitOf(format) : 0;
            if (data) {
                whole.data.append(reinterpret_cast<char*>(data), bytes);
                XFree(data);
            }
            if (type != None) {
                whole.type = type;
                whole.format = format;
            }
            if (static_cast<std::int64_t>(whole.data.size()) > maxBytes)
                return bytes == 0 ? ReadFailure::tooLarge : drain();
            if (bytes == 0)
                return whole;
        }
    }

    // Takes the rest of a transfer in pieces without keeping them, and answers tooLarge. An
    // owner that sends in pieces waits for each to be taken, and many (xclip among them) answer
    // nobody else meanwhile: left half-way, the user's clipboard would stop answering for good.
    // So it goes on past the read's bound: 70 MiB take about three seconds on an idle machine.
    ReadFailure drain() {
        const double bound = now() + drainBound;
        for (;;) {
            if (!waitUntil([&] { return newValue; }, std::min(now() + requestTimeout, bound)))
                return ReadFailure::tooLarge;
            newValue = false;
            Atom type = None;
            int format = 0;
            unsigned long n = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            // Its size only: the piece itself is never pulled over.
            if (XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type,
                                   &format, &n, &after, &data) != Success)
                return ReadFailure::tooLarge;
            if (data)
                XFree(data);
            XDeleteProperty(display, window, property);
            XFlush(display);
            if (after == 0)
                return ReadFailure::tooLarge;
        }
    }

    // The targets another owner offers; nothing when it did not answer.
    std::optional<std::vector<Atom>> foreignTargets(double bound) {
        auto read = request(targets, 1 << 20, bound);
        if (auto* failure = std::get_if<ReadFailure>(&read)) {
            if (*failure == ReadFailure::timedOut)
                return std::nullopt;
            return std::vector<Atom>{};
        }
        const auto& got = std::get<Read>(read);
        if (got.format != 32)
            return std::vector<Atom>{};
        std::vector<Atom> atoms(got.data.size() / sizeof(Atom));
        std::memcpy(atoms.data(), got.data.data(), atoms.size() * sizeof(Atom));
        return atoms;
    }

    // Targets that are requests of their own rather than data.
    bool isMeta(Atom a) const {
        return a == targets || a == timestamp || a == multiple || a == saveTargets ||
               a == deleteTarget || a == insertSelection || a == insertProperty || a == None;
    }

    // ---- writing

    std::vector<Target> targetsFor(const std::vector<ClipItem>& items) {
        std::vector<Target> result;
        bool concealed = false;
        const auto add = [&](Target t) {
            for (const auto& had : result)
                if (had.target == t.target)
                    return;
            result.push_back(std::move(t));
        };
        for (const auto& item : items)
            for (const auto& entry : item.entries) {
                if (entry.type == PasteboardTypes::plainText) {
                    add({utf8, utf8, 8, entry.data, true});
                    add({textPlain, textPlain, 8, entry.data, true});
                    if (auto bytes = latin1(entry.data))
                        add({XA_STRING, XA_STRING, 8, std::move(*bytes), true});
                    continue;
                }
                if (entry.type == PasteboardTypes::concealed)
                    concealed = true;
                // "TARGET" or "TARGET\nTYPE\nFORMAT", as read.
                const auto first = entry.type.find('\n');
                const auto second =
                    first == std::string::npos ? first : entry.type.find('\n', first + 1);
                Target t;
                if (second == std::string::npos) {
                    t.target = t.type = atom(entry.type.c_str());
                } else {
                    t.target = atom(entry.type.substr(0, first).c_str());
                    t.type = atom(entry.type.substr(first + 1, second - first - 1).c_str());
                    t.format = std::atoi(entry.type.c_str() + second + 1);
                    if (t.format != 8 && t.format != 16 && t.format != 32)
                        t.format = 8;
                }
                if (isMeta(t.target))
                    continue;
                t.data = entry.data;
                t.data.resize(t.data.size() - t.data.size() % unitOf(t.format));
                t.text = t.target == utf8 || t.target == textPlain || t.target == XA_STRING ||
                         t.target == atom("TEXT");
                add(std::move(t));
            }
        if (concealed)
            add({hint, hint, 8, "secret", false});
        return result;
    }

    std::vector<ClipItem> offeredItems() {
        ClipItem item;
        for (const auto& t : offered)
            item.entries.push_back({entryType(name(t.target), name(t.type), t.format), t.data});
        if (item.entries.empty())
            return {};
        return {item};
    }
};

Result<std::unique_ptr<PasteboardX11>, PasteboardX11Error>
PasteboardX11::create(const std::string& displayName) {
    XErrorTrap::initThreads();
    const char* name = displayName.empty() ? nullptr : displayName.c_str();
    Display* display = XOpenDisplay(name);
    if (!display)
        return fail(PasteboardX11Error::noDisplay,
                    std::string("cannot open display ") + XDisplayName(name));
    int fixesEvent = 0;
    int fixesError = 0;
    if (!XFixesQueryExtension(display, &fixesEvent, &fixesError)) {
        XCloseDisplay(display);
        return fail(PasteboardX11Error::noXFixes, "the X server has no XFIXES extension");
    }
    auto impl = std::make_unique<Impl>();
    impl->display = display;
    impl->fixesEvent = fixesEvent;
    int resEvent = 0;
    int resError = 0;
    int major = 0;
    int minor = 0;
    impl->hasXRes = XResQueryExtension(display, &resEvent, &resError) &&
                    XResQueryVersion(display, &major, &minor) &&
                    (major > 1 || (major == 1 && minor >= 2));
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    impl->window =
        XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, CopyFromParent,
                      InputOnly, CopyFromParent, CWEventMask, &attributes);
    impl->clipboard = impl->atom("CLIPBOARD");
    impl->targets = impl->atom("TARGETS");
    impl->timestamp = impl->atom("TIMESTAMP");
    impl->multiple = impl->atom("MULTIPLE");
    impl->incr = impl->atom("INCR");
    impl->utf8 = impl->atom("UTF8_STRING");
    impl->textPlain = impl->atom("text/plain;charset=utf-8");
    impl->atomPair = impl->atom("ATOM_PAIR");
    impl->manager = impl->atom("CLIPBOARD_MANAGER");
    impl->saveTargets = impl->atom("SAVE_TARGETS");
    impl->hint = impl->atom(passwordHint);
    impl->property = impl->atom("TALVERIN_CLIPBOARD");
    impl->stamp = impl->atom("TALVERIN_TIMESTAMP");
    impl->deleteTarget = impl->atom("DELETE");
    impl->insertSelection = impl->atom("INSERT_SELECTION");
    impl->insertProperty = impl->atom("INSERT_PROPERTY");
    XFixesSelectSelectionInput(display, impl->window, impl->clipboard,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    XSync(display, False);
    return std::unique_ptr<PasteboardX11>(new PasteboardX11(std::move(impl)));
}

PasteboardX11::PasteboardX11(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {
    XErrorTrap::adopt(
        m_impl->display, [](void* self) { static_cast<Impl*>(self)->lost = true; }, m_impl.get());
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_life->impl = m_impl.get();
}

PasteboardX11::~PasteboardX11() {
    {
        std::lock_guard alive(m_life->mutex);
        m_life->impl = nullptr;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_drained.notify_all();
    if (m_stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof(one));
    }
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    XCloseDisplay(m_impl->display);
    XErrorTrap::release(m_impl->display);
}

void PasteboardX11::serveOn(std::function<bool(std::function<void()>)> post) {
    if (m_watcher.joinable() || m_stopFd < 0)
        return;
    m_post = std::move(post);
    m_watcher = std::thread([this] { watch(); });
}

// Waits on the connection while the queue is idle and hands what arrived to the queue; it
// waits for that to be handled before it looks again, so it never races the queue's reads.
void PasteboardX11::watch() {
    const int fd = ConnectionNumber(m_impl->display);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        std::unique_lock lock(m_mutex);
        if (m_stopping)
            return;
        m_draining = true;
        lock.unlock();
        const bool posted = m_post([this, life = m_life] {
            std::lock_guard alive(life->mutex);
            if (!life->impl)
                return;
            { Impl::Call call{*life->impl}; }
            std::lock_guard done(m_mutex);
            m_draining = false;
            m_drained.notify_all();
        });
        if (!posted)
            return;
        lock.lock();
        m_drained.wait(lock, [this] { return !m_draining || m_stopping; });
        if (m_stopping || (fds[0].revents & (POLLERR | POLLHUP)) != 0 || m_impl->lost)
            return;
    }
}

std::int64_t PasteboardX11::changeCount() {
    Impl::Call call{*m_impl};
    return m_impl->syncedCount();
}

bool PasteboardX11::owns() {
    Impl::Call call{*m_impl};
    m_impl->syncedCount();
    return m_impl->owner;
}

Result<PasteboardTypeLists, PasteboardError> PasteboardX11::itemTypes() {
    Impl& x = *m_impl;
    Impl::Call call{x};
    x.pump();
    if (x.lost)
        return fail(PasteboardError::unanswered, "the X connection is lost");
    std::vector<std::string> names;
    if (x.owner) {
        for (const auto& t : x.offered)
            names.push_back(x.name(t.target));
    } else {
        if (x.currentOwner() == None)
            return PasteboardTypeLists{};
        const auto list = x.foreignTargets(now() + readBound);
        if (!list)
            return fail(PasteboardError::unanswered, "no list of targets in time");
        for (Atom a : *list)
            if (!x.isMeta(a))
                names.push_back(x.name(a));
    }
    // A password manager's secret reads as concealed content.
    if (std::find(names.begin(), names.end(), passwordHint) != names.end())
        names.emplace_back(PasteboardTypes::concealed);
    if (names.empty())
        return PasteboardTypeLists{};
    return PasteboardTypeLists{names};
}

Result<std::vector<ClipItem>, PasteboardError> PasteboardX11::readItems(std::int64_t maxBytes) {
    Impl& x = *m_impl;
    Impl::Call call{x};
    x.pump();
    if (x.lost)
        return fail(PasteboardError::unanswered, "the X connection is lost");
    if (x.owner) {
        std::int64_t total = 0;
        for (const auto& t : x.offered)
            total += static_cast<std::int64_t>(t.data.size());
        if (total > maxBytes)
            return fail(PasteboardError::tooLarge);
        return x.offeredItems();
    }
    if (x.currentOwner() == None)
        return std::vector<ClipItem>{};
    const double bound = now() + readBound;
    const auto list = x.foreignTargets(bound);
    if (!list)
        return fail(PasteboardError::unanswered, "no list of targets in time");
    ClipItem item;
    std::int64_t total = 0;
    for (Atom target : *list) {
        if (x.isMeta(target))
            continue;
        auto read = x.request(target, maxBytes - total, bound);
        if (auto* failure = std::get_if<Impl::ReadFailure>(&read)) {
            if (*failure == Impl::ReadFailure::tooLarge)
                return fail(PasteboardError::tooLarge);
            // A target the owner will not convert is left out; one it does not answer makes
            // the whole snapshot unanswered: a partial one would restore less than was there.
            if (*failure == Impl::ReadFailure::timedOut)
                return fail(PasteboardError::unanswered, "a target not delivered in time");
            continue;
        }
        auto& got = std::get<Impl::Read>(read);
        total += static_cast<std::int64_t>(got.data.size());
        if (total > maxBytes)
            return fail(PasteboardError::tooLarge);
        if (got.type == None)
            continue;
        item.entries.push_back(
            {entryType(x.name(target), x.name(got.type), got.format), std::move(got.data)});
    }
    if (item.entries.empty())
        return std::vector<ClipItem>{};
    return std::vector<ClipItem>{std::move(item)};
}

Result<void, PasteboardError> PasteboardX11::write(const std::vector<ClipItem>& items) {
    const auto lost = [] { return fail(PasteboardError::notTaken, "the X connection is lost"); };
    Impl& x = *m_impl;
    Impl::Call call{x};
    x.pump();
    if (x.lost)
        return lost();
    auto offered = x.targetsFor(items);
    const Time time = x.serverTime();
    if (offered.empty()) {
        // Emptying: nobody owns it afterwards.
        XSetSelectionOwner(x.display, x.clipboard, None, time);
        x.disown();
        x.syncedCount();
        return x.lost ? lost() : Result<void, PasteboardError>();
    }
    XSetSelectionOwner(x.display, x.clipboard, x.window, time);
    if (x.currentOwner() != x.window) {
        x.disown();
        return fail(PasteboardError::notTaken, "another client took the clipboard");
    }
    // Pieces of the old content still on their way are of a clipboard that is gone.
    x.outgoing.clear();
    x.offered = std::move(offered);
    x.owner = true;
    x.ownedSince = time;
    x.ownCount = x.syncedCount();
    return x.lost ? lost() : Result<void, PasteboardError>();
}

bool PasteboardX11::waitServed(std::int64_t changeCount, double timeout) {
    Impl& x = *m_impl;
    Impl::Call call{x};
    // Requests are answered as they come while this waits: the target's read among them.
    x.waitUntil(
        [&] { return x.servedCount == changeCount || !x.owner || x.ownCount != changeCount; },
        now() + timeout);
    return x.servedCount == changeCount;
}

bool PasteboardX11::handOff() {
    Impl& x = *m_impl;
    Impl::Call call{x};
    x.pump();
    if (x.lost || !x.owner || x.currentOwner() != x.window)
        return false;
    if (XGetSelectionOwner(x.display, x.manager) == None)
        return false;
    // The manager copies every target we offer, then takes the clipboard over.
    std::vector<Atom> list;
    for (const auto& t : x.offered)
        list.push_back(t.target);
    XChangeProperty(x.display, x.window, x.property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
    const Time time = x.serverTime();
    x.notified.reset();
    XConvertSelection(x.display, x.manager, x.saveTargets, x.property, x.window, time);
    XFlush(x.display);
    const bool answered = x.waitUntil(
        [&] { return x.notified && x.notified->target == x.saveTargets; }, now() + readBound);
    return answered && x.notified->property != None;
}

} // namespace talverin
