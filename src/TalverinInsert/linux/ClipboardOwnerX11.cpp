#include "TalverinInsert/linux/ClipboardConnectionX11.h"

#include "Runtime/Unicode.h"
#include "TalverinInsert/linux/PasteboardX11.h"

#include <cstdlib>

#include <X11/Xatom.h>

namespace talverin {

namespace {

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

} // namespace

void ClipboardConnectionX11::answer(const XSelectionRequestEvent& request) {
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
    XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(display);
}

bool ClipboardConnectionX11::answerMultiple(Window requestor, Atom into) {
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
                    reinterpret_cast<unsigned char*>(pairs.data()), static_cast<int>(pairs.size()));
    return true;
}

bool ClipboardConnectionX11::convert(Window requestor, Atom target, Atom into) {
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

void ClipboardConnectionX11::continueOutgoing(Window requestor, Atom into) {
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

std::vector<ClipboardConnectionX11::Target>
ClipboardConnectionX11::targetsFor(const std::vector<ClipItem>& items) {
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

std::vector<ClipItem> ClipboardConnectionX11::offeredItems() {
    ClipItem item;
    for (const auto& t : offered)
        item.entries.push_back({entryType(name(t.target), name(t.type), t.format), t.data});
    if (item.entries.empty())
        return {};
    return {item};
}

} // namespace talverin
