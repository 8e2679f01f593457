#pragma once

#include "TalverinCore/PillSpot.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillAnim.h"
#include "TalverinPill/PillBubble.h"
#include "TalverinPill/PillContentAlign.h"
#include "TalverinPill/PillContentLayer.h"
#include "TalverinPill/PillGhost.h"
#include "TalverinPill/PillShapeState.h"
#include "TalverinPill/PillShapeTarget.h"
#include "TalverinPill/PillFace.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// The one observed object between the pill panel, which decides, and the overlay's views,
// which draw. Every change that moves, fades or recolours something carries the animation the
// views apply it with, stored next to the value. While `reduceMotion` is set every animation
// requested through the model is dropped, so the views apply changes at once; the log still
// shows what was asked. Main thread only.
class PillModel {
public:
    struct LogEntry {
        std::string what;
        std::optional<PillAnim> anim;

        bool operator==(const LogEntry&) const = default;
    };

    static constexpr std::size_t logLimit = 80;

    // Called before any observed value changes; the old value is still there to read. An
    // operation that finds nothing to change does not call it.
    std::function<void()> onWillChange;
    // The hands-free content's stop button.
    std::function<void()> onStop;
    // The resting pill's microphone button.
    std::function<void()> onRestPress;
    // What a screen reader calls the resting pill, which a press starts dictating from even
    // before its microphone button has grown: the panel's words for that button; empty while
    // the pill does not rest.
    std::string restLabel;

    const PillShapeState& shape() const { return m_shape; }
    const Rect& window() const { return m_window; }
    const std::vector<PillContentLayer>& layers() const { return m_layers; } // newest last
    const PillContentAlign& align() const { return m_align; }
    const std::vector<float>& levels() const { return m_levels; }
    const std::vector<PillGhost>& ghosts() const { return m_ghosts; }
    bool ghostsVisible() const { return m_ghostsVisible; }
    const std::optional<PillAnim>& ghostsAnim() const { return m_ghostsAnim; }
    std::optional<PillSpot> hot() const { return m_hot; }
    const std::optional<PillAnim>& hotAnim() const { return m_hotAnim; }
    const std::optional<PillBubble>& bubble() const { return m_bubble; }
    bool bubbleVisible() const { return m_bubbleVisible; }
    const std::optional<PillAnim>& bubbleAnim() const { return m_bubbleAnim; }
    bool micHot() const { return m_micHot; }
    const std::optional<PillAnim>& micAnim() const { return m_micAnim; }
    bool reduceMotion() const { return m_reduceMotion; }
    // The latest animation requests, oldest first, at most logLimit of them.
    const std::vector<LogEntry>& log() const { return m_log; }
    // The last content-layer id handed out; the first layer gets 1.
    std::int64_t nextLayer() const { return m_nextLayer; }

    // The panel writes these directly; each write is observed.
    void setWindow(const Rect& window);
    void setLevels(std::vector<float> levels);
    void setGhosts(std::vector<PillGhost> ghosts);
    void setReduceMotion(bool reduceMotion);

    // Always writes: the shape takes the target's frame around the current grab point.
    void move(const PillShapeTarget& to, std::optional<PillAnim> anim);
    void setOpacity(double value, std::optional<PillAnim> anim);
    void setScale(double value, std::optional<PillAnim> anim);
    void setLift(double value, std::optional<PillAnim> anim);
    // The grab point's screen position alone, and the size and corners alone: a dragged pill
    // follows the pointer at once while its form changes with a spring.
    void setCentre(Point centre, std::optional<PillAnim> anim);
    void setLook(const PillLook& look, std::optional<PillAnim> anim);
    // Moves the point that `centre` places; the centre stays, so the shape's frame moves.
    void setGrab(Point grab);
    // Back to the middle as grab point, with the centre moved so that the shape stays put.
    void settleGrab();
    void setAlign(PillContentAlign align);
    void setHot(std::optional<PillSpot> spot, bool animated);
    void setMicHot(bool hot, bool animated);
    void showGhosts(bool visible);
    void showBubble(bool visible);
    void setBubble(const PillBubble& bubble);
    void clearContent();
    // The resting pill's content; the same content with other values changes in place.
    void showRest(PillContentLayer::Kind kind, double delay);
    // New content, fading in after the delay; earlier layers leave.
    void startContent(PillContentLayer::Kind kind, double delay);
    // The shown state with a new payload (live words, a ticking timer), in place.
    void updateContent(const PillFace& face);
    void updateHover(std::string lead, std::string key, double width);

private:
    // Logs the request and answers what is to be stored: nothing under reduce motion.
    std::optional<PillAnim> anim(std::string_view name, std::optional<PillAnim> requested);
    void willChange();
    // Writes an animated value unless it already holds `newValue`: the animation first, as
    // `anim` answers for the name, then the value.
    template <typename T>
    void write(T& value, T newValue, std::optional<PillAnim>& animation, std::string_view name,
               std::optional<PillAnim> requested);
    // The single new layer, replacing every earlier one.
    void startLayer(PillContentLayer::Kind kind, double delay);
    // Sets the kind of the layer at `index` in place, keeping its id and delay.
    void replaceKind(std::size_t index, PillContentLayer::Kind kind);

    PillShapeState m_shape;
    Rect m_window;
    std::vector<PillContentLayer> m_layers;
    PillContentAlign m_align = PillContentAlign::center();
    std::vector<float> m_levels;
    std::vector<PillGhost> m_ghosts;
    bool m_ghostsVisible = false;
    std::optional<PillAnim> m_ghostsAnim;
    std::optional<PillSpot> m_hot;
    std::optional<PillAnim> m_hotAnim;
    std::optional<PillBubble> m_bubble;
    bool m_bubbleVisible = false;
    std::optional<PillAnim> m_bubbleAnim;
    bool m_micHot = false;
    std::optional<PillAnim> m_micAnim;
    bool m_reduceMotion = false;
    std::vector<LogEntry> m_log;
    std::int64_t m_nextLayer = 0;
};

} // namespace talverin
