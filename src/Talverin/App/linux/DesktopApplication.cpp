#include "Talverin/App/linux/DesktopApplication.h"

#include "Runtime/Bundle.h"
#include "Runtime/linux/SystemEventLoop.h"
#include "Talverin/App/AppDelegate.h"
#include "Talverin/App/Log.h"
#include "Talverin/App/LoginItem.h"
#include "Talverin/App/linux/FrontApplicationsX11.h"
#include "Talverin/App/linux/KeyboardSettingsLinux.h"
#include "Talverin/App/linux/LiveSystem.h"
#include "Talverin/App/linux/LogJournalSocket.h"
#include "Talverin/App/linux/ShellWindowsGtk.h"
#include "Talverin/Web/linux/UrlOpeningGio.h"
#include "TalverinCore/CoreLog.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <gio/gio.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace talverin {

namespace {

// The running instance answers this method by showing itself, as a reopened application does.
constexpr const char* reopenInterface = R"(
<node>
  <interface name='app.talverin.Application'>
    <method name='Reopen'/>
  </interface>
</node>)";
constexpr const char* interfaceName = "app.talverin.Application";
constexpr const char* objectPath = "/app/talverin/Application";
constexpr guint32 doNotQueue = 4;
constexpr guint32 primaryOwner = 1;

// The system's name and version, for the launch line: the distribution's own name when it
// says one, else the kernel's.
std::string systemName() {
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (!line.starts_with("PRETTY_NAME="))
            continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        if (!value.empty())
            return value;
    }
    utsname name{};
    if (uname(&name) == 0)
        return std::string(name.sysname) + " " + name.release;
    return "Linux";
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Connection = std::unique_ptr<GDBusConnection, Unref>;

// Owns the application's name on the session bus. When another process owns it, asks that one
// to show itself and answers false.
bool claimInstance(GDBusConnection* bus, const std::string& name) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", name.c_str(), doNotQueue), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply) {
        // A bus that cannot answer cannot tell us about another instance either.
        g_clear_error(&error);
        return true;
    }
    guint32 answer = 0;
    g_variant_get(reply, "(u)", &answer);
    g_variant_unref(reply);
    if (answer == primaryOwner)
        return true;
    GVariant* reopened = g_dbus_connection_call_sync(bus, name.c_str(), objectPath, interfaceName,
                                                     "Reopen", nullptr, nullptr,
                                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                                     nullptr);
    if (reopened)
        g_variant_unref(reopened);
    return false;
}

void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                  const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                  gpointer data) {
    auto* app = static_cast<AppDelegate*>(data);
    if (g_strcmp0(method, "Reopen") == 0)
        app->applicationShouldHandleReopen();
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable reopenVTable = {onMethodCall, nullptr, nullptr, {}};

gboolean onSignal(gpointer data) {
    static_cast<AppDelegate*>(data)->applicationWillTerminate();
    return G_SOURCE_CONTINUE;
}

} // namespace

int DesktopApplication::run() {
    // Every module's lines reach the log from the start; they are kept until the log opens.
    CoreLog::setSink(tlLog);
    const Facilities facilities = LiveSystem::probe();
    const std::string identifier = Bundle::main().identifier();

    // The instance check comes before the first log line: a second process must not rotate the
    // log of the one that runs.
    Connection bus;
    if (!facilities.sessionBus) {
        bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
        if (bus && !claimInstance(bus.get(), identifier))
            return 0;
    }

    tlLogToStderr = false;
    if (auto journal = LogJournalSocket::open())
        tlLogSetJournal(*journal);
    else
        tlLogSetJournal(std::make_shared<LogJournalNull>(journal.message()));
    tlLogOpen();
    // The windows need the toolkit; a display it cannot use leaves the shell without windows.
    const bool toolkit = !facilities.display && gtk_init_check(nullptr, nullptr);

    SystemEventLoop loop;
    Runtime::install(&loop);
    GMainLoop* mainLoop = g_main_loop_new(nullptr, FALSE);
    const int exitCode = 0;
    {
        auto defaults = std::make_shared<DefaultsStoreFile>(DefaultsStoreFile::defaultPath(), tlLog);
        auto workspace = std::make_shared<NotificationCenter>();
        auto appCenter = std::make_shared<NotificationCenter>();
        // Made by the launch, after its first line: the backends log as they start.
        std::unique_ptr<LiveSystem> system;

        AppDelegate::Environment env;
        env.defaults = defaults;
        env.historyFile = HistoryStore::defaultURL();
        env.makeServices = [&](HoldKey holdKey, LiveParts::Consent consent,
                               std::function<void()> onDevicesChange) {
            system = std::make_unique<LiveSystem>(facilities, defaults, workspace, appCenter);
            system->logChoices();
            return LiveServices::live(holdKey, std::move(consent), std::move(onDevicesChange),
                                      system->parts());
        };
        if (!toolkit) {
            env.windows = std::make_shared<ShellWindowsNull>(
                facilities.display.value_or("the window toolkit did not start"));
        } else {
            auto opener = std::make_shared<UrlOpeningGio>();
            env.windows = std::make_shared<ShellWindowsGtk>(
                bus.get(), ShellWindowsGtk::webPages(opener, *defaults), opener);
        }
        env.workspace = workspace;
        env.appCenter = appCenter;
        env.quitInserter = [&system] {
            if (system)
                system->quitInserter();
        };
        env.registerLoginItem = [] { LoginItem::registerIfInstalled(LoginItem::current()); };
        env.processID = static_cast<std::int32_t>(getpid());
        env.version = Bundle::main().shortVersion();
        env.system = systemName();
        env.logSink = tlLog;
        if (toolkit) {
            if (auto front = FrontApplicationsX11::open())
                env.frontApps = std::move(front);
            else
                env.frontApps = std::make_shared<FrontApplicationsNull>("the display did not open");
            env.keyboardSettings = std::make_shared<KeyboardSettingsLinux>();
            env.reduceMotion = [] {
                gboolean animations = TRUE;
                g_object_get(gtk_settings_get_default(), "gtk-enable-animations", &animations,
                             nullptr);
                return !animations;
            };
        } else {
            const std::string reason =
                facilities.display.value_or("the window toolkit did not start");
            env.frontApps = std::make_shared<FrontApplicationsNull>(reason);
            env.keyboardSettings = std::make_shared<KeyboardSettingsNull>(reason);
        }

        AppDelegate app(std::move(env));
        app.onTerminated = [mainLoop] { g_main_loop_quit(mainLoop); };

        guint registration = 0;
        if (bus) {
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(reopenInterface, nullptr);
            registration = g_dbus_connection_register_object(
                bus.get(), objectPath, node->interfaces[0], &reopenVTable, &app, nullptr,
                nullptr);
            g_dbus_node_info_unref(node);
        }
        const guint signals[] = {g_unix_signal_add(SIGTERM, onSignal, &app),
                                 g_unix_signal_add(SIGINT, onSignal, &app),
                                 g_unix_signal_add(SIGHUP, onSignal, &app)};

        app.applicationDidFinishLaunching();
        if (!app.hasTerminated())
            g_main_loop_run(mainLoop);

        for (guint id : signals)
            g_source_remove(id);
        if (registration)
            g_dbus_connection_unregister_object(bus.get(), registration);
        // Termination has restored the volume, flushed the history and the log. What is left
        // are threads that may still be at work (a microphone preparation, the sound server's
        // loop, a reachability check) and would post to a main queue that no longer runs, or
        // meet objects that static destruction already took: the process ends here instead.
        tlLogFlush();
        std::fflush(nullptr);
        _exit(exitCode);
    }
}

} // namespace talverin
