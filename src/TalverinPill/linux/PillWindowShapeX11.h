#pragma once

#include <cstdint>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;
struct _XDisplay;

namespace talverin {

// The bounding shape of the pill's window where no compositor blends it. There the server
// shows every pixel of the window as it is, so alpha reads as black: the window is cut to the
// pixels of a frame that are at least half opaque, which is the pill's body and nothing of its
// soft edges. The shape goes to the server directly, not through GDK: GDK clips its own drawing
// to a shape it knows, so a frame could never paint where the frame before it was cut away.
// Main thread only.
class PillWindowShapeX11 {
public:
    struct Span {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Span&) const = default;
    };

    // The opaque part of an ARGB32 image as rectangles in bands from the top, rows with the
    // same runs joined into one band.
    static std::vector<Span> opaqueSpans(cairo_surface_t* image);

    // Cuts the window to those rectangles; nothing when they are the ones already cut.
    void cut(_XDisplay* display, unsigned long window, std::vector<Span> spans);
    // Gives the window back its whole rectangle, for a compositor to blend; nothing when it has
    // no cut shape.
    void reset(_XDisplay* display, unsigned long window);
    bool isCut() const { return m_cut; }

private:
    bool m_cut = false;
    std::vector<Span> m_spans;
};

} // namespace talverin
