#include "TalverinInsert/linux/ClipboardConnectionX11.h"

#include "TalverinInsert/linux/PasteboardX11.h"

#include <climits>
#include <cstring>

namespace talverin {

std::variant<ClipboardConnectionX11::Read, ClipboardConnectionX11::ReadFailure>
ClipboardConnectionX11::request(Atom target, std::int64_t maxBytes, double bound) {
    XDeleteProperty(display, window, property);
    notified.reset();
    XConvertSelection(display, clipboard, target, property, window, CurrentTime);
    XFlush(display);
    // A late answer to an earlier request is not this one's.
    if (!waitUntil([&] { return notified && notified->target == target; },
                   std::min(now() + PasteboardX11::requestTimeout, bound)))
        return ReadFailure::timedOut;
    if (notified->property == None)
        return ReadFailure::refused;
    Atom type = None;
    int format = 0;
    unsigned long n = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    // The size first, so that a huge property is never pulled over.
    if (XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) != Success)
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
    if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType, &type,
                           &format, &n, &after, &data) != Success)
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
        if (!waitUntil([&] { return newValue; },
                       std::min(now() + PasteboardX11::requestTimeout, bound)))
            return ReadFailure::timedOut;
        newValue = false;
        data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                               &type, &format, &n, &after, &data) != Success)
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
ClipboardConnectionX11::ReadFailure ClipboardConnectionX11::drain() {
    const double bound = now() + drainBound;
    for (;;) {
        if (!waitUntil([&] { return newValue; },
                       std::min(now() + PasteboardX11::requestTimeout, bound)))
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
std::optional<std::vector<Atom>> ClipboardConnectionX11::foreignTargets(double bound) {
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

} // namespace talverin
