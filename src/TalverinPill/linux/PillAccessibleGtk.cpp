#include "TalverinPill/linux/PillAccessibleGtk.h"

#include "Runtime/MainQueue.h"

#include <algorithm>
#include <cmath>

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

namespace talverin {
namespace {

// The widget data that holds a part's action.
constexpr const char* pressKey = "talverin-press";

// A part: a widget without a window of its own, so it takes no pointer event from the window
// that paints it, and it draws nothing.
struct TalverinPillPart {
    GtkWidget parent;
};
struct TalverinPillPartClass {
    GtkWidgetClass parentClass;
};

// Its accessible: the widget's, with the part's action as the default action.
struct TalverinPillPartAccessible {
    GtkWidgetAccessible parent;
};
struct TalverinPillPartAccessibleClass {
    GtkWidgetAccessibleClass parentClass;
};

// The box the parts stand in: it places them where it is told and asks for no room, so the
// window's size stays the panel's to set.
struct TalverinPillParts {
    GtkFixed parent;
};
struct TalverinPillPartsClass {
    GtkFixedClass parentClass;
};

std::function<void()>* pressOf(AtkAction* action) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (!widget)
        return nullptr;
    auto* press =
        static_cast<std::function<void()>*>(g_object_get_data(G_OBJECT(widget), pressKey));
    return press && *press ? press : nullptr;
}

gboolean partDoAction(AtkAction* action, gint index) {
    auto* press = pressOf(action);
    if (index != 0 || !press)
        return FALSE;
    // The request arrives inside the bridge's handling of a bus message: the press runs on
    // the next turn, as a click would.
    MainQueue::post(*press);
    return TRUE;
}

gint partActionCount(AtkAction* action) {
    return pressOf(action) ? 1 : 0;
}

const gchar* partActionName(AtkAction* action, gint index) {
    return index == 0 && pressOf(action) ? "click" : nullptr;
}

void partActionInit(AtkActionIface* iface) {
    iface->do_action = partDoAction;
    iface->get_n_actions = partActionCount;
    iface->get_name = partActionName;
    iface->get_localized_name = partActionName;
}

void noRoom(GtkWidget*, gint* minimum, gint* natural) {
    *minimum = 0;
    *natural = 0;
}

} // namespace
} // namespace talverin

using talverin::TalverinPillPart;
using talverin::TalverinPillPartAccessible;
using talverin::TalverinPillPartAccessibleClass;
using talverin::TalverinPillPartClass;
using talverin::TalverinPillParts;
using talverin::TalverinPillPartsClass;

G_DEFINE_TYPE_WITH_CODE(TalverinPillPartAccessible, talverin_pill_part_accessible,
                        GTK_TYPE_WIDGET_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, talverin::partActionInit))

static void talverin_pill_part_accessible_init(TalverinPillPartAccessible*) {}
static void talverin_pill_part_accessible_class_init(TalverinPillPartAccessibleClass*) {}

G_DEFINE_TYPE(TalverinPillPart, talverin_pill_part, GTK_TYPE_WIDGET)

static void talverin_pill_part_init(TalverinPillPart* part) {
    gtk_widget_set_has_window(GTK_WIDGET(part), FALSE);
}
static void talverin_pill_part_class_init(TalverinPillPartClass* klass) {
    gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass),
                                         talverin_pill_part_accessible_get_type());
}

G_DEFINE_TYPE(TalverinPillParts, talverin_pill_parts, GTK_TYPE_FIXED)

static void talverin_pill_parts_init(TalverinPillParts*) {}
static void talverin_pill_parts_class_init(TalverinPillPartsClass* klass) {
    GTK_WIDGET_CLASS(klass)->get_preferred_width = talverin::noRoom;
    GTK_WIDGET_CLASS(klass)->get_preferred_height = talverin::noRoom;
}

namespace talverin {
namespace {

GtkWidget* newPart(AtkRole role) {
    GtkWidget* part = GTK_WIDGET(g_object_new(talverin_pill_part_get_type(), nullptr));
    atk_object_set_role(gtk_widget_get_accessible(part), role);
    return part;
}

// Gives a part an action that calls `*target` while the owner lives.
void setPress(GtkWidget* part, std::weak_ptr<bool> alive, std::function<void()>* target) {
    auto* press = new std::function<void()>([alive = std::move(alive), target] {
        if (auto a = alive.lock(); a && *a && *target)
            (*target)();
    });
    g_object_set_data_full(G_OBJECT(part), pressKey, press,
                           [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

} // namespace

PillAccessibleGtk::PillAccessibleGtk(GtkWidget* window) {
    m_box = GTK_WIDGET(g_object_new(talverin_pill_parts_get_type(), nullptr));
    m_row = GTK_WIDGET(g_object_new(talverin_pill_parts_get_type(), nullptr));
    atk_object_set_role(gtk_widget_get_accessible(m_row), ATK_ROLE_PANEL);
    m_stop = newPart(ATK_ROLE_PUSH_BUTTON);
    m_mic = newPart(ATK_ROLE_PUSH_BUTTON);
    m_hint = newPart(ATK_ROLE_LABEL);
    setPress(m_stop, m_alive, &onStop);
    setPress(m_mic, m_alive, &onMicPress);
    gtk_fixed_put(GTK_FIXED(m_row), m_stop, 0, 0);
    gtk_fixed_put(GTK_FIXED(m_box), m_row, 0, 0);
    gtk_fixed_put(GTK_FIXED(m_box), m_mic, 0, 0);
    gtk_fixed_put(GTK_FIXED(m_box), m_hint, 0, 0);
    gtk_container_add(GTK_CONTAINER(window), m_box);
    gtk_widget_show(m_box);
}

PillAccessibleGtk::~PillAccessibleGtk() {
    *m_alive = false;
}

void PillAccessibleGtk::update(const Scene& scene) {
    if (scene == m_scene)
        return;
    m_scene = scene;
    place(m_row, m_box, scene.row, {0, 0});
    const Point rowOrigin = scene.row ? scene.row->frame.origin : Point{0, 0};
    place(m_stop, m_row, scene.row ? scene.stop : std::nullopt, rowOrigin);
    place(m_mic, m_box, scene.mic, {0, 0});
    place(m_hint, m_box, scene.hint, {0, 0});
}

void PillAccessibleGtk::place(GtkWidget* part, GtkWidget* parent, const std::optional<Part>& value,
                              Point origin) {
    if (!value) {
        gtk_widget_hide(part);
        return;
    }
    AtkObject* accessible = gtk_widget_get_accessible(part);
    // A new name is announced to whoever listens, so it is set only when it changes.
    if (g_strcmp0(atk_object_get_name(accessible), value->name.c_str()) != 0)
        atk_object_set_name(accessible, value->name.c_str());
    const Rect& frame = value->frame;
    gtk_fixed_move(GTK_FIXED(parent), part, int(std::lround(frame.minX() - origin.x)),
                   int(std::lround(frame.minY() - origin.y)));
    gtk_widget_set_size_request(part, std::max(1, int(std::lround(frame.width()))),
                                std::max(1, int(std::lround(frame.height()))));
    gtk_widget_show(part);
}

} // namespace talverin
