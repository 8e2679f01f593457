#include "Talverin/App/linux/StatusItemSni.h"

#include "Talverin/App/Log.h"

#include <string>

#include <gio/gio.h>
#include <unistd.h>

namespace talverin {

namespace {

constexpr const char* itemInterface = "org.kde.StatusNotifierItem";
constexpr const char* menuInterface = "com.canonical.dbusmenu";
constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";

constexpr const char* itemXml = R"(
<node>
  <interface name='org.kde.StatusNotifierItem'>
    <property name='Category' type='s' access='read'/>
    <property name='Id' type='s' access='read'/>
    <property name='Title' type='s' access='read'/>
    <property name='Status' type='s' access='read'/>
    <property name='IconName' type='s' access='read'/>
    <property name='IconPixmap' type='a(iiay)' access='read'/>
    <property name='ToolTip' type='(sa(iiay)ss)' access='read'/>
    <property name='ItemIsMenu' type='b' access='read'/>
    <property name='Menu' type='o' access='read'/>
    <method name='Activate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
    <method name='SecondaryActivate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
    <method name='ContextMenu'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
    <method name='Scroll'><arg type='i' direction='in'/><arg type='s' direction='in'/></method>
    <signal name='NewIcon'/>
    <signal name='NewTitle'/>
    <signal name='NewStatus'><arg type='s'/></signal>
    <signal name='NewToolTip'/>
  </interface>
</node>)";

constexpr const char* menuXml = R"(
<node>
  <interface name='com.canonical.dbusmenu'>
    <property name='Version' type='u' access='read'/>
    <property name='TextDirection' type='s' access='read'/>
    <property name='Status' type='s' access='read'/>
    <property name='IconThemePath' type='as' access='read'/>
    <method name='GetLayout'>
      <arg type='i' direction='in'/><arg type='i' direction='in'/><arg type='as' direction='in'/>
      <arg type='u' direction='out'/><arg type='(ia{sv}av)' direction='out'/>
    </method>
    <method name='GetGroupProperties'>
      <arg type='ai' direction='in'/><arg type='as' direction='in'/>
      <arg type='a(ia{sv})' direction='out'/>
    </method>
    <method name='GetProperty'>
      <arg type='i' direction='in'/><arg type='s' direction='in'/><arg type='v' direction='out'/>
    </method>
    <method name='Event'>
      <arg type='i' direction='in'/><arg type='s' direction='in'/><arg type='v' direction='in'/>
      <arg type='u' direction='in'/>
    </method>
    <method name='EventGroup'>
      <arg type='a(isvu)' direction='in'/><arg type='ai' direction='out'/>
    </method>
    <method name='AboutToShow'><arg type='i' direction='in'/><arg type='b' direction='out'/></method>
    <method name='AboutToShowGroup'>
      <arg type='ai' direction='in'/><arg type='ai' direction='out'/><arg type='ai' direction='out'/>
    </method>
    <signal name='LayoutUpdated'><arg type='u'/><arg type='i'/></signal>
    <signal name='ItemsPropertiesUpdated'>
      <arg type='a(ia{sv})'/><arg type='a(ias)'/>
    </signal>
  </interface>
</node>)";

GVariant* pixmaps(const StatusItemSni::Pixmap& icon) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(iiay)"));
    if (icon.width > 0) {
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, icon.argb.data(),
                                                    icon.argb.size(), 1);
        g_variant_builder_add(&list, "(ii@ay)", icon.width, icon.height, bytes);
    }
    return g_variant_builder_end(&list);
}

} // namespace

// The GDBus vtables, which reach the item through their user data.
struct StatusItemSni::Callbacks {
    static GVariant* itemProperty(GDBusConnection*, const char*, const char*, const char*,
                                  const char* name, GError**, gpointer data) {
        auto* item = static_cast<StatusItemSni*>(data);
        const std::string property = name;
        if (property == "Category")
            return g_variant_new_string("ApplicationStatus");
        if (property == "Id")
            return g_variant_new_string("talverin");
        if (property == "Title")
            return g_variant_new_string("Talverin");
        if (property == "Status")
            return g_variant_new_string("Active");
        if (property == "IconName")
            return g_variant_new_string("");
        if (property == "IconPixmap")
            return pixmaps(item->m_icon);
        if (property == "ToolTip")
            return g_variant_new("(s@a(iiay)ss)", "", pixmaps({}), "Talverin", "");
        if (property == "ItemIsMenu")
            return g_variant_new_boolean(FALSE);
        if (property == "Menu")
            return g_variant_new_object_path(menuPath);
        return nullptr;
    }

    static void itemMethod(GDBusConnection*, const char*, const char*, const char*,
                           const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer data) {
        auto* item = static_cast<StatusItemSni*>(data);
        const std::string name = method;
        // Answer first: the click's work may open windows, and the host waits for the reply.
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (name == "Activate" || name == "ContextMenu") {
            gint32 x = 0, y = 0;
            g_variant_get(parameters, "(ii)", &x, &y);
            const auto& action = name == "Activate" ? item->onActivate : item->onContextMenu;
            if (action)
                action(x, y);
        }
    }

    static GVariant* menuProperty(GDBusConnection*, const char*, const char*, const char*,
                                  const char* name, GError**, gpointer) {
        const std::string property = name;
        if (property == "Version")
            return g_variant_new_uint32(3);
        if (property == "TextDirection")
            return g_variant_new_string("ltr");
        if (property == "Status")
            return g_variant_new_string("normal");
        if (property == "IconThemePath")
            return g_variant_new_strv(nullptr, 0);
        return nullptr;
    }

    static GVariant* properties(StatusItemSni& item, std::int32_t id) {
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        auto label = [&](const std::string& text) {
            g_variant_builder_add(&b, "{sv}", "label", g_variant_new_string(text.c_str()));
        };
        switch (id) {
        case 0:
            g_variant_builder_add(&b, "{sv}", "children-display", g_variant_new_string("submenu"));
            break;
        case learning:
            label(item.m_texts.learning);
            g_variant_builder_add(&b, "{sv}", "toggle-type", g_variant_new_string("checkmark"));
            g_variant_builder_add(&b, "{sv}", "toggle-state",
                                  g_variant_new_int32(item.m_shownLearning ? 1 : 0));
            break;
        case onboarding:
            label(item.m_texts.onboarding);
            break;
        case log:
            label(item.m_texts.log);
            break;
        case separator:
            g_variant_builder_add(&b, "{sv}", "type", g_variant_new_string("separator"));
            break;
        case quit:
            label(item.m_texts.quit);
            break;
        default:
            break;
        }
        return g_variant_builder_end(&b);
    }

    static GVariant* layout(StatusItemSni& item, std::int32_t id) {
        GVariantBuilder children;
        g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
        if (id == 0)
            for (std::int32_t child : {learning, onboarding, log, separator, quit})
                g_variant_builder_add(&children, "v", layout(item, child));
        return g_variant_new("(i@a{sv}@av)", id, properties(item, id),
                             g_variant_builder_end(&children));
    }

    // Reads the learning mark again; answers whether the menu changed.
    static bool refresh(StatusItemSni& item) {
        const bool on = item.learningIsOn();
        if (on == item.m_shownLearning)
            return false;
        item.m_shownLearning = on;
        ++item.m_revision;
        item.emit(menuPath, menuInterface, "LayoutUpdated",
                  g_variant_new("(ui)", item.m_revision, 0));
        GVariantBuilder updated;
        g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
        g_variant_builder_add(&updated, "(i@a{sv})", static_cast<gint32>(learning),
                              properties(item, learning));
        item.emit(menuPath, menuInterface, "ItemsPropertiesUpdated",
                  g_variant_new("(@a(ia{sv})@a(ias))", g_variant_builder_end(&updated),
                                g_variant_new_array(G_VARIANT_TYPE("(ias)"), nullptr, 0)));
        return true;
    }

    static void menuMethod(GDBusConnection*, const char*, const char*, const char*,
                           const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer data) {
        auto& item = *static_cast<StatusItemSni*>(data);
        const std::string name = method;
        if (name == "GetLayout") {
            gint32 parent = 0;
            g_variant_get(parameters, "(ii^a&s)", &parent, nullptr, nullptr);
            g_dbus_method_invocation_return_value(
                invocation, g_variant_new("(u@(ia{sv}av))", item.m_revision, layout(item, parent)));
        } else if (name == "GetGroupProperties") {
            GVariantIter* ids = nullptr;
            g_variant_get(parameters, "(ai^a&s)", &ids, nullptr);
            GVariantBuilder b;
            g_variant_builder_init(&b, G_VARIANT_TYPE("a(ia{sv})"));
            gint32 id = 0;
            while (g_variant_iter_next(ids, "i", &id))
                g_variant_builder_add(&b, "(i@a{sv})", id, properties(item, id));
            g_variant_iter_free(ids);
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&b)));
        } else if (name == "GetProperty") {
            gint32 id = 0;
            const char* key = nullptr;
            g_variant_get(parameters, "(i&s)", &id, &key);
            GVariant* all = g_variant_ref_sink(properties(item, id));
            GVariant* value = g_variant_lookup_value(all, key, nullptr);
            g_variant_unref(all);
            if (!value)
                value = g_variant_ref_sink(g_variant_new_string(""));
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
            g_variant_unref(value);
        } else if (name == "Event") {
            gint32 id = 0;
            const char* event = nullptr;
            g_variant_get(parameters, "(i&svu)", &id, &event, nullptr, nullptr);
            const bool clicked = g_strcmp0(event, "clicked") == 0;
            g_dbus_method_invocation_return_value(invocation, nullptr);
            if (clicked)
                item.menuClicked(id);
        } else if (name == "EventGroup") {
            GVariantIter* events = nullptr;
            g_variant_get(parameters, "(a(isvu))", &events);
            std::vector<std::int32_t> clicked;
            gint32 id = 0;
            const char* event = nullptr;
            while (g_variant_iter_next(events, "(i&svu)", &id, &event, nullptr, nullptr))
                if (g_strcmp0(event, "clicked") == 0)
                    clicked.push_back(id);
            g_variant_iter_free(events);
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
            for (auto each : clicked)
                item.menuClicked(each);
        } else if (name == "AboutToShow") {
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(b)", refresh(item)));
        } else if (name == "AboutToShowGroup") {
            const bool changed = refresh(item);
            GVariantBuilder updates;
            g_variant_builder_init(&updates, G_VARIANT_TYPE("ai"));
            if (changed)
                g_variant_builder_add(&updates, "i", 0);
            g_dbus_method_invocation_return_value(
                invocation, g_variant_new("(@ai@ai)", g_variant_builder_end(&updates),
                                          g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
        } else {
            g_dbus_method_invocation_return_dbus_error(invocation,
                                                       "org.freedesktop.DBus.Error.UnknownMethod",
                                                       method);
        }
    }
};

StatusItemSni::StatusItemSni(GDBusConnection* bus, Texts texts)
    : m_bus(bus), m_texts(std::move(texts)),
      m_busName("org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1") {
    g_object_ref(m_bus);
    static const GDBusInterfaceVTable itemVTable = {&Callbacks::itemMethod,
                                                    &Callbacks::itemProperty, nullptr, {}};
    static const GDBusInterfaceVTable menuVTable = {&Callbacks::menuMethod,
                                                    &Callbacks::menuProperty, nullptr, {}};
    GDBusNodeInfo* item = g_dbus_node_info_new_for_xml(itemXml, nullptr);
    GDBusNodeInfo* menu = g_dbus_node_info_new_for_xml(menuXml, nullptr);
    m_itemRegistration = g_dbus_connection_register_object(m_bus, itemPath, item->interfaces[0],
                                                           &itemVTable, this, nullptr, nullptr);
    m_menuRegistration = g_dbus_connection_register_object(m_bus, menuPath, menu->interfaces[0],
                                                           &menuVTable, this, nullptr, nullptr);
    g_dbus_node_info_unref(item);
    g_dbus_node_info_unref(menu);
    m_nameOwner = g_bus_own_name_on_connection(m_bus, m_busName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                               nullptr, nullptr, nullptr, nullptr);
    m_watcherWatch = g_bus_watch_name_on_connection(
        m_bus, watcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, gpointer self) {
            static_cast<StatusItemSni*>(self)->watcherAppeared();
        },
        [](GDBusConnection*, const char*, gpointer self) {
            static_cast<StatusItemSni*>(self)->watcherVanished();
        },
        this, nullptr);
}

StatusItemSni::~StatusItemSni() {
    g_bus_unwatch_name(m_watcherWatch);
    g_bus_unown_name(m_nameOwner);
    g_dbus_connection_unregister_object(m_bus, m_itemRegistration);
    g_dbus_connection_unregister_object(m_bus, m_menuRegistration);
    g_object_unref(m_bus);
}

void StatusItemSni::setIcon(Pixmap pixmap) {
    m_icon = std::move(pixmap);
    emit(itemPath, itemInterface, "NewIcon", nullptr);
}

void StatusItemSni::emit(const char* path, const char* interface, const char* signal,
                         void* parameters) {
    g_dbus_connection_emit_signal(m_bus, nullptr, path, interface, signal,
                                  static_cast<GVariant*>(parameters), nullptr);
}

void StatusItemSni::watcherAppeared() {
    // The watcher takes the item by its bus name; it asks for the properties itself.
    g_dbus_connection_call(
        m_bus, watcherName, "/StatusNotifierWatcher", watcherName, "RegisterStatusNotifierItem",
        g_variant_new("(s)", m_busName.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) {
                g_variant_unref(reply);
                tlLog("Status item: registered");
            } else {
                tlLog(std::string("Status item: not registered (") + error->message + ")");
                g_error_free(error);
            }
        },
        nullptr);
    m_registered = true;
}

void StatusItemSni::watcherVanished() {
    m_registered = false;
    if (m_saidNoWatcher)
        return;
    m_saidNoWatcher = true;
    tlLog("Status item: no StatusNotifierWatcher: the popover opens from the pill's menu and on "
          "reopen");
}

void StatusItemSni::learningChanged() { Callbacks::refresh(*this); }

void StatusItemSni::menuClicked(std::int32_t id) {
    const std::function<void()>* action = nullptr;
    switch (id) {
    case learning:
        action = &onToggleLearning;
        break;
    case onboarding:
        action = &onOpenOnboarding;
        break;
    case log:
        action = &onOpenLog;
        break;
    case quit:
        action = &onQuit;
        break;
    default:
        return;
    }
    if (*action)
        (*action)();
}

} // namespace talverin
