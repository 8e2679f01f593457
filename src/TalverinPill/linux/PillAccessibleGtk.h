#pragma once

#include "TalverinCore/ScreenGeometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;

namespace talverin {

// What a screen reader finds in the pill's window. The window paints the whole overlay itself,
// so its parts are stood in for by widgets that draw nothing and take no events: they only
// give ATK (and through it AT-SPI) each part's role, name, place and action. The content row
// is a panel named by the state's label, holding the hands-free stop button; the resting
// pill's microphone is a push button; the island's hover hint is a label. Main thread only.
class PillAccessibleGtk {
public:
    // One part: its name, and its frame in the window (y down).
    struct Part {
        std::string name;
        Rect frame;
        bool operator==(const Part&) const = default;
    };
    // The parts on show now; an absent one is not in the tree.
    struct Scene {
        std::optional<Part> row;
        std::optional<Part> stop; // within the row
        std::optional<Part> mic;
        std::optional<Part> hint;
        bool operator==(const Scene&) const = default;
    };

    // Adds the parts to `window`, a GTK window without a child of its own.
    explicit PillAccessibleGtk(GtkWidget* window);
    ~PillAccessibleGtk();
    PillAccessibleGtk(const PillAccessibleGtk&) = delete;
    PillAccessibleGtk& operator=(const PillAccessibleGtk&) = delete;

    // Shows the scene's parts with their names and frames; nothing when it is the one shown.
    void update(const Scene& scene);

    // The default actions of the two buttons, called on a later turn of the main queue (the
    // request comes in over the bus, inside the toolkit's own handling).
    std::function<void()> onStop;
    std::function<void()> onMicPress;

private:
    void place(GtkWidget* part, GtkWidget* parent, const std::optional<Part>& value, Point origin);

    GtkWidget* m_box = nullptr;
    GtkWidget* m_row = nullptr;
    GtkWidget* m_stop = nullptr;
    GtkWidget* m_mic = nullptr;
    GtkWidget* m_hint = nullptr;
    Scene m_scene;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace talverin
