#pragma once

#include "Runtime/Liveness.h"
#include "TalverinCore/PillPresenting.h"
#include "TalverinPill/PillCopy.h"
#include "TalverinPill/PillFace.h"
#include "TalverinPill/PillLang.h"
#include "TalverinPill/PillMeasure.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillMouseEvent.h"
#include "TalverinPill/PillScreen.h"
#include "TalverinPill/PillStage.h"
#include "TalverinPill/PillStep.h"
#include "TalverinPill/PillWindowDriver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The floating pill: turns each state into a face, chooses the screen, plays the timeline's
// step lists on the overlay model and moves the window through the driver. The resting pill
// (idle bar or nothing) also answers the pointer: hover, click, context menu, drag and snap.
//
// Main thread only. Delayed steps and timers are never cancelled: each carries the token it was
// scheduled with and does nothing when a newer one replaced it, or when the panel is gone.
class PillPanel final : public PillPresenting {
public:
    // The driver's callbacks and the model's actions are installed here, each holding the
    // panel weakly. `measure` sizes the texts (the pill's fonts in the product).
    PillPanel(std::shared_ptr<PillModel> model, std::shared_ptr<PillWindowDriver> driver,
              PillLang lang, PillMeasure measure);
    ~PillPanel() override;
    PillPanel(const PillPanel&) = delete;
    PillPanel& operator=(const PillPanel&) = delete;

    using PillPresenting::show;
    std::optional<std::string> microphoneName() const override { return m_microphoneName; }
    void setMicrophoneName(std::optional<std::string> name) override;
    void show(const PillState& state, std::optional<Rect> screenFrame) override;
    void hide() override;
    bool showsIdleBar() const override { return m_showsIdleBar; }
    void setShowsIdleBar(bool shows) override;
    PillSpot spot() const override { return m_spot; }
    void setSpot(PillSpot spot, bool animated) override;
    PillMicrophoneMenu microphoneMenu() const override { return m_microphoneMenu; }
    void setMicrophoneMenu(PillMicrophoneMenu menu) override;
    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override;
    void setHolding(bool holding) override;
    bool isDragEnabled() const override { return m_dragEnabled; }
    void setDragEnabled(bool enabled) override;
    bool isDragging() const override { return m_dragging; }
    void cancelDrag() override;

    const PillState& state() const { return m_state; }
    PillLang lang() const { return m_lang; }
    // The visible frame of the pill's screen; none while no screen is known.
    std::optional<Rect> screenFrame() const;
    // The visible frame of the screen that overlaps a window most; none for an empty window
    // or one off every screen.
    std::optional<Rect> screenFrame(const Rect& forWindow) const;
    // The same as a function that outlives the panel (answering none once it is gone), in the
    // shape the service bundle holds.
    std::function<std::optional<Rect>(const Rect&)> screenFrameLookup() const;

    // The stage the shape is in or moving to, the face shown and the screen: for the tests.
    const PillStage& stage() const { return m_stage; }
    const std::optional<PillFace>& face() const { return m_face; }
    const std::optional<PillScreen>& screen() const { return m_screen; }
    bool isHovering() const { return m_hovering; }
    bool isSnapping() const { return m_snapping; }
    bool isOverlay() const { return m_overlay; }
    double hoverWidth() const { return m_hoverWidth; }
    double bubbleWidth() const { return m_bubbleWidth; }

    // A mouse event from the driver; answers whether it was consumed.
    bool mouse(const PillMouseEvent& event);

private:
    struct Press {
        Point start;
        bool moved = false; // the pointer went the drag threshold or farther
        bool done = false;  // it no longer counts as a click
    };
    struct Drag {
        PillSpot origin;
        Point grab; // unit point of the grabbed shape under the pointer
        Size grabbed;
        std::optional<PillSpot> near;
    };

    // Presenting and playback.
    bool reduceMotion() const { return m_driver->reduceMotion(); }
    bool isIsland() const;
    PillScreen pointerScreen() const;
    void chooseScreen(const std::optional<Rect>& screenFrame);
    void run(const std::vector<PillStep>& steps);
    void apply(const PillStep& step);
    void applyContent(const PillStep::Content& content);
    void orderOutIfGone(std::int64_t token);
    void leaveIfGone();
    void place();
    void setWindowRect(const Rect& frame);
    void screensChanged();
    void idleBarChanged(bool on);
    void holdKeyChanged();
    void measureWidths();
    void refreshHover();
    void updateDecoration();
    std::optional<PillBubble> bubble() const;
    PillContentLayer::Kind hoverContent(PillSpot spot) const;
    void announce(const PillFace& face);
    void cancelDwell();
    void cancelGrace();

    // Pointer, hover, drag and snap.
    bool canRest() const;
    bool hitTest(Point p) const;
    std::optional<Rect> stopRect() const;
    void updateMouse();
    void pointerMoved();
    void dwellCheck(std::int64_t token);
    void graceCheck(std::int64_t token);
    bool down(Point p);
    bool dragged(Point p);
    bool up();
    bool rightDown(Point p);
    bool moved();
    void beginDrag(Point grabPoint, Point pointer);
    void follow(Point pointer);
    std::optional<PillSpot> nearest(Point pointer, std::optional<PillSpot> previous) const;
    Point dragAnchor(Point pointer, std::optional<PillSpot> near) const;
    Size liftedSize(std::optional<PillSpot> spot) const;
    void endDrag(bool cancelled);
    void turnOverlayOn();
    void startSnap();
    void snapEnded(std::int64_t token);
    void installCallbacks();

    std::shared_ptr<PillModel> m_model;
    std::shared_ptr<PillWindowDriver> m_driver;
    PillMeasure m_measure;
    PillState m_state;
    PillLang m_lang;
    std::optional<std::string> m_microphoneName;
    HoldKey m_holdKey = HoldKey::rightOption;
    bool m_showsIdleBar = false;
    PillSpot m_spot = PillSpot::bottomCenter;
    PillMicrophoneMenu m_microphoneMenu;
    bool m_dragEnabled = false;
    bool m_dragging = false;
    PillCopy m_copy;
    std::optional<PillScreen> m_screen;
    // The display the pill stood on before it went away, until it returns or a dictation
    // chooses a screen of its own.
    std::optional<std::uint32_t> m_displacedFrom;
    bool m_overlay = false; // the window covers the whole screen, during a drag or a snap
    std::optional<PillFace> m_face;
    PillStage m_stage = PillStage::none();
    bool m_hovering = false;
    bool m_snapping = false;
    bool m_holding = false;
    double m_hoverWidth = 0;
    double m_bubbleWidth = 0;
    std::int64_t m_sequence = 0;
    std::int64_t m_dwellToken = 0;
    bool m_dwellPending = false;
    std::int64_t m_graceToken = 0;
    bool m_gracePending = false;
    std::int64_t m_snapToken = 0;
    std::optional<Press> m_press;
    std::optional<Drag> m_drag;
    Liveness m_alive;
};

} // namespace talverin
