#include "TalverinPill/PillAnim.h"

namespace talverin {

PillAnim::Animation PillAnim::animation() const {
    Animation a;
    switch (m_kind) {
    case Kind::spring:
        a.type = Animation::Type::spring;
        a.spring = m_spring;
        break;
    case Kind::fade:
        a.curve = PillMetrics::ease;
        a.duration = duration(m_fade);
        a.delay = m_delay;
        break;
    case Kind::colour:
        a.curve = ThemeTokens::Ease::base;
        a.duration = ThemeTokens::Dur::base;
        break;
    }
    return a;
}

} // namespace talverin
