#include "TalverinInput/linux/KeySourceX11.h"

#include "Runtime/linux/XErrorTrap.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace talverin {

namespace {

bool bitIsSet(const char (&keys)[32], int keycode) {
    return (static_cast<unsigned char>(keys[keycode / 8]) >> (keycode % 8)) & 1;
}

} // namespace

KeySourceX11::KeySourceX11(std::shared_ptr<SyntheticInput> synthetic, std::string display)
    : m_synthetic(std::move(synthetic)), m_displayName(std::move(display)),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (m_synthetic)
        m_ownKeys = m_synthetic->reader();
    if (m_wakeFd < 0)
        m_wakeError = std::strerror(errno);
    // The tap thread's connection lives beside the toolkit's on the main thread.
    XErrorTrap::initThreads();
}

KeySourceX11::~KeySourceX11() {
    close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

int KeySourceX11::xKeycodeOf(std::int64_t keyCode) {
    for (int keycode = 8; keycode < 256; ++keycode)
        if (KeyTranslatorX11::keyCodeOf(keycode) == keyCode)
            return keycode;
    return -1;
}

Result<void, KeySourceError> KeySourceX11::open() {
    if (m_wakeFd < 0)
        return fail(KeySourceError::noResources, "no wake-up channel: " + m_wakeError);
    const char* name = m_displayName.empty() ? nullptr : m_displayName.c_str();
    m_display = XOpenDisplay(name);
    if (!m_display)
        return fail(KeySourceError::noDisplay,
                    std::string("cannot open display ") + XDisplayName(name));
    XErrorTrap::adopt(
        m_display, [](void* self) { static_cast<KeySourceX11*>(self)->connectionBroke(); }, this);

    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    // Raw events reach every client whatever grabs others hold only from XInput 2.1 on.
    if (!XQueryExtension(m_display, "XInputExtension", &m_xinputOpcode, &event, &error) ||
        XIQueryVersion(m_display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 1)) {
        close();
        return fail(KeySourceError::unsupported, "the X server offers no XInput 2.1");
    }
    findSyntheticDevices();

    // Modifiers held from before the session count from its first event on.
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    std::vector<int> down;
    for (int keycode = 8; keycode < 256; ++keycode)
        if (bitIsSet(keys, keycode))
            down.push_back(keycode);
    XkbStateRec state{};
    const bool capsLock =
        XkbGetState(m_display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask);
    m_translator.seed(down, capsLock);

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);
    XSync(m_display, False);
    if (m_lost) {
        close();
        return fail(KeySourceError::lost, "the X connection broke");
    }
    return {};
}

void KeySourceX11::findSyntheticDevices() {
    m_syntheticDevices.clear();
    const Atom property = XInternAtom(m_display, "XTEST Device", True);
    if (property == None)
        return;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(m_display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& device = devices[i];
        if (device.use != XISlaveKeyboard && device.use != XISlavePointer)
            continue;
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XIGetProperty(m_display, device.deviceid, property, 0, 1, False, AnyPropertyType, &type,
                          &format, &items, &after, &data) == Success) {
            if (items > 0 && data && data[0] != 0)
                m_syntheticDevices.insert(device.deviceid);
            if (data)
                XFree(data);
        }
    }
    XIFreeDeviceInfo(devices);
}

void KeySourceX11::close() {
    if (!m_display)
        return;
    _XDisplay* display = m_display;
    m_display = nullptr;
    XCloseDisplay(display);
    XErrorTrap::release(display);
}

void KeySourceX11::wait(double timeout) {
    if (!m_display || m_lost)
        return;
    // Xlib may already hold events it read during another request: the socket is quiet then.
    if (XPending(m_display) > 0 || m_lost)
        return;
    pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int millis = timeout < 0 ? -1 : static_cast<int>(std::ceil(timeout * 1000));
    ::poll(fds, 2, millis);
    if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto ignored = ::read(m_wakeFd, &count, sizeof count);
    }
}

void KeySourceX11::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(m_wakeFd, &one, sizeof one);
}

void KeySourceX11::drain(const std::function<void(const TapEvent&)>& deliver) {
    while (m_display && !m_lost && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_xinputOpcode ||
            !XGetEventData(m_display, cookie))
            continue;
        std::optional<TapEvent> tapEvent;
        switch (cookie->evtype) {
        case XI_RawKeyPress:
        case XI_RawKeyRelease:
        case XI_RawButtonPress: {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            tapEvent = translate(cookie->evtype, raw->sourceid, raw->detail, raw->time);
            break;
        }
        default:
            break;
        }
        XFreeEventData(m_display, cookie);
        if (tapEvent)
            deliver(*tapEvent);
    }
    if (m_lost && !m_reportedLost) {
        m_reportedLost = true;
        deliver(TapEvent::notice(TapEvent::Type::connectionLost));
    }
}

std::optional<TapEvent> KeySourceX11::translate(int evtype, int sourceDevice, int detail,
                                                unsigned long serverTime) {
    // Matched before translating, so that every event of ours uses up its announcement.
    bool own = false;
    if (m_ownKeys && m_syntheticDevices.contains(sourceDevice) &&
        (evtype == XI_RawKeyPress || evtype == XI_RawKeyRelease))
        own = m_ownKeys->claim(detail, evtype == XI_RawKeyPress ? SyntheticInput::Stroke::press
                                                                : SyntheticInput::Stroke::release);
    std::optional<KeyTranslatorX11::Event> translated;
    switch (evtype) {
    case XI_RawKeyPress:
        translated = m_translator.keyPress(detail);
        break;
    case XI_RawKeyRelease:
        translated = m_translator.keyRelease(detail);
        break;
    case XI_RawButtonPress:
        translated = KeyTranslatorX11::buttonPress(detail);
        break;
    default:
        break;
    }
    if (!translated)
        return std::nullopt;
    TapEvent event;
    event.kind = translated->kind;
    event.keyCode = translated->keyCode;
    event.flags = translated->flags;
    event.isRepeat = translated->isRepeat;
    event.isMediaKeyDown = translated->isMediaKeyDown;
    event.serverTime = static_cast<std::uint32_t>(serverTime & 0xffffffffu);
    event.isOwn = own;
    return event;
}

bool KeySourceX11::isKeyDown(std::int64_t keyCode) {
    if (!m_display || m_lost)
        return false;
    const int keycode = xKeycodeOf(keyCode);
    if (keycode < 0)
        return false;
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    if (m_lost)
        return false;
    // When no event arrived before the reply, the server's key map is exactly what the
    // translator should believe. A key-up it never heard would otherwise make the key's next
    // press look like a repeat, and that press would be lost as well.
    if (QLength(m_display) == 0) {
        std::vector<int> down;
        for (int code = 8; code < 256; ++code)
            if (bitIsSet(keys, code))
                down.push_back(code);
        m_translator.seed(down, (m_translator.flags() & Flag::capsLock) != 0);
    }
    return bitIsSet(keys, keycode);
}

} // namespace talverin
