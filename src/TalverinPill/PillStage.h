#pragma once

namespace talverin {

// The form the pill's shape takes.
class PillStage {
public:
    enum class Kind {
        pill,  // a state pill of some width
        none,  // nothing shown
        bar,   // the idle bar
        hover, // the expanded form under the pointer
        drop,  // the small form a drag drops into
    };

    static PillStage pill(double width) { return PillStage(Kind::pill, width); }
    static PillStage none() { return PillStage(Kind::none, 0); }
    static PillStage bar() { return PillStage(Kind::bar, 0); }
    static PillStage hover() { return PillStage(Kind::hover, 0); }
    static PillStage drop() { return PillStage(Kind::drop, 0); }

    Kind kind() const { return m_kind; }
    // The width of a state pill, points; 0 for the other stages.
    double width() const { return m_width; }
    // The forms the pill rests in while no state is shown.
    bool isRest() const {
        return m_kind == Kind::none || m_kind == Kind::bar || m_kind == Kind::hover;
    }

    bool operator==(const PillStage&) const = default;

private:
    PillStage(Kind kind, double width) : m_kind(kind), m_width(width) {}

    Kind m_kind;
    double m_width;
};

} // namespace talverin
