#include "Runtime/linux/XErrorTrap.h"

#include <map>
#include <mutex>
#include <utility>

#include <X11/Xlib.h>

namespace talverin::XErrorTrap {

namespace {

struct Adopted {
    void (*onLost)(void*);
    void* context;
    // Adoptions not yet released. A connection closed on one thread frees its Display, which
    // a connection opened meanwhile on another thread may get; the first one's release, which
    // comes after its close, must not drop the newcomer.
    int count = 0;
};

struct Registry {
    std::mutex mutex;
    std::map<Display*, Adopted> displays;
    XIOErrorHandler previousIOHandler = nullptr;
    XErrorHandler previousErrorHandler = nullptr;
};

// Never destroyed: a connection may break while the process exits.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

bool isAdopted(Display* display) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.displays.contains(display);
}

int onIOError(Display* display) {
    // Returning lets Xlib go on to the connection's own exit handler below.
    if (isAdopted(display))
        return 0;
    XIOErrorHandler previous = nullptr;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        previous = r.previousIOHandler;
    }
    return previous ? previous(display) : 0;
}

int onError(Display* display, XErrorEvent* error) {
    if (isAdopted(display))
        return 0;
    XErrorHandler previous = nullptr;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        previous = r.previousErrorHandler;
    }
    return previous ? previous(display, error) : 0;
}

void onExit(Display* display, void*) {
    Adopted adopted{nullptr, nullptr};
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (auto it = r.displays.find(display); it != r.displays.end())
            adopted = it->second;
    }
    if (adopted.onLost)
        adopted.onLost(adopted.context);
}

} // namespace

void initThreads() {
    static const bool initialised = XInitThreads() != 0;
    (void)initialised;
}

void adopt(Display* display, void (*onLost)(void*), void* context) {
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        Adopted& adopted = r.displays[display];
        adopted.onLost = onLost;
        adopted.context = context;
        ++adopted.count;
        // The toolkit may have installed its handlers after ours: take them over again.
        XIOErrorHandler io = XSetIOErrorHandler(onIOError);
        if (io != onIOError)
            r.previousIOHandler = io;
        XErrorHandler error = XSetErrorHandler(onError);
        if (error != onError)
            r.previousErrorHandler = error;
    }
    XSetIOErrorExitHandler(display, onExit, nullptr);
}

void release(Display* display) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.displays.find(display); it != r.displays.end() && --it->second.count <= 0)
        r.displays.erase(it);
}

} // namespace talverin::XErrorTrap
