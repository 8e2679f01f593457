#pragma once

#include "Runtime/linux/GioHandles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One object on the accessibility bus: the unique name of the application that serves it and
// its path there.
struct AtspiObject {
    std::string bus;
    std::string path;

    bool operator==(const AtspiObject&) const = default;
    bool empty() const { return bus.empty(); }
};

// Our own connection to the desktop's accessibility bus, made with GDBus. libatspi is not used:
// it keeps process-wide state that the toolkit's own accessibility bridge also drives from the
// main thread, and entering it from a second thread corrupts it. A GDBus connection may be
// called from any thread at once; each call blocks only its caller, and only for its timeout,
// so a slow reading never queues a later one behind it.
class AtspiBus {
public:
    // The path of an application's root element and of the desktop that lists applications.
    static constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
    static constexpr const char* registryName = "org.a11y.atspi.Registry";

    // Finds the bus through the session bus and connects; nothing without one.
    static std::shared_ptr<AtspiBus> connect();
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    // How a call ended, in the terms the backend maps onto its error codes.
    enum class Failure {
        none,
        noAnswer,    // timed out, or the application left the bus
        gone,        // the object no longer exists
        unsupported, // the object has no such interface, method or property
        other,
    };
    struct Reply {
        Failure failure = Failure::none;
        GVariantPtr value;

        bool ok() const { return failure == Failure::none && value; }
    };

    // Any thread. One method call, waiting at most `timeoutMs` for the answer.
    Reply call(const AtspiObject& object, const char* interface, const char* method,
               GVariant* parameters, const char* replyType, int timeoutMs);
    // One call of a batch.
    struct Request {
        AtspiObject object;
        const char* interface = nullptr;
        const char* method = nullptr;
        GVariant* parameters = nullptr; // floating or owned: the batch consumes it
        const char* replyType = nullptr;
    };
    // Any thread. Sends every request at once and waits for all the answers, each at most
    // `timeoutMs`: an application answers a batch in one wake-up, where one call after another
    // costs a wake-up each, which a busy machine makes long.
    std::vector<Reply> callAll(std::vector<Request> requests, int timeoutMs);
    // Any thread. The process behind a unique bus name, asked of the bus once per name (a
    // unique name is never given to another connection); 0 when the bus does not say.
    std::int32_t processOf(const std::string& bus, int timeoutMs);
    // Any thread. The root elements of every application registered on the desktop.
    std::vector<AtspiObject> applications(int timeoutMs);

    GDBusConnection* connection() const { return m_connection.get(); }

private:
    explicit AtspiBus(GObjectPtr<GDBusConnection> connection);

    GObjectPtr<GDBusConnection> m_connection;
    std::mutex m_mutex;
    std::map<std::string, std::int32_t> m_processes;
};

// An object reference as AT-SPI sends it, "(so)".
AtspiObject atspiObjectOf(GVariant* reference);

} // namespace talverin
