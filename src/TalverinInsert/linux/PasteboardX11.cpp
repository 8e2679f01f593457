#include "TalverinInsert/linux/PasteboardX11.h"

#include "Runtime/linux/XErrorTrap.h"
#include "TalverinInsert/linux/ClipboardConnectionX11.h"

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
    auto impl = std::make_unique<ClipboardConnectionX11>();
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

PasteboardX11::PasteboardX11(std::unique_ptr<ClipboardConnectionX11> impl)
    : m_impl(std::move(impl)) {
    XErrorTrap::adopt(
        m_impl->display,
        [](void* self) { static_cast<ClipboardConnectionX11*>(self)->lost = true; }, m_impl.get());
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
            { ClipboardConnectionX11::Call call{*life->impl}; }
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
    ClipboardConnectionX11::Call call{*m_impl};
    return m_impl->syncedCount();
}

bool PasteboardX11::owns() {
    ClipboardConnectionX11::Call call{*m_impl};
    m_impl->syncedCount();
    return m_impl->owner;
}

Result<PasteboardTypeLists, PasteboardError> PasteboardX11::itemTypes() {
    ClipboardConnectionX11& x = *m_impl;
    ClipboardConnectionX11::Call call{x};
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
        const auto list = x.foreignTargets(ClipboardConnectionX11::now() + readBound);
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
    ClipboardConnectionX11& x = *m_impl;
    ClipboardConnectionX11::Call call{x};
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
    const double bound = ClipboardConnectionX11::now() + readBound;
    const auto list = x.foreignTargets(bound);
    if (!list)
        return fail(PasteboardError::unanswered, "no list of targets in time");
    ClipItem item;
    std::int64_t total = 0;
    for (Atom target : *list) {
        if (x.isMeta(target))
            continue;
        auto read = x.request(target, maxBytes - total, bound);
        if (auto* failure = std::get_if<ClipboardConnectionX11::ReadFailure>(&read)) {
            if (*failure == ClipboardConnectionX11::ReadFailure::tooLarge)
                return fail(PasteboardError::tooLarge);
            // A target the owner will not convert is left out; one it does not answer makes
            // the whole snapshot unanswered: a partial one would restore less than was there.
            if (*failure == ClipboardConnectionX11::ReadFailure::timedOut)
                return fail(PasteboardError::unanswered, "a target not delivered in time");
            continue;
        }
        auto& got = std::get<ClipboardConnectionX11::Read>(read);
        total += static_cast<std::int64_t>(got.data.size());
        if (total > maxBytes)
            return fail(PasteboardError::tooLarge);
        if (got.type == None)
            continue;
        item.entries.push_back(
            {ClipboardConnectionX11::entryType(x.name(target), x.name(got.type), got.format),
             std::move(got.data)});
    }
    if (item.entries.empty())
        return std::vector<ClipItem>{};
    return std::vector<ClipItem>{std::move(item)};
}

Result<void, PasteboardError> PasteboardX11::write(const std::vector<ClipItem>& items) {
    const auto lost = [] { return fail(PasteboardError::notTaken, "the X connection is lost"); };
    ClipboardConnectionX11& x = *m_impl;
    ClipboardConnectionX11::Call call{x};
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
    ClipboardConnectionX11& x = *m_impl;
    ClipboardConnectionX11::Call call{x};
    // Requests are answered as they come while this waits: the target's read among them.
    x.waitUntil(
        [&] { return x.servedCount == changeCount || !x.owner || x.ownCount != changeCount; },
        ClipboardConnectionX11::now() + timeout);
    return x.servedCount == changeCount;
}

bool PasteboardX11::handOff() {
    ClipboardConnectionX11& x = *m_impl;
    ClipboardConnectionX11::Call call{x};
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
    const bool answered =
        x.waitUntil([&] { return x.notified && x.notified->target == x.saveTargets; },
                    ClipboardConnectionX11::now() + readBound);
    return answered && x.notified->property != None;
}

} // namespace talverin
