#include "TalverinCore/PillState.h"

#include <algorithm>
#include <cmath>

namespace talverin {

PillState PillState::listening(std::string liveText, float level) {
    PillState state(Kind::listening);
    state.m_text = std::move(liveText);
    state.m_level = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    return state;
}

PillState PillState::inserted(std::string appName) {
    PillState state(Kind::inserted);
    state.m_text = std::move(appName);
    return state;
}

PillState PillState::handsFree(double elapsed, std::string liveText) {
    PillState state(Kind::handsFree);
    state.m_elapsed = std::isnan(elapsed) ? 0.0 : elapsed;
    state.m_text = std::move(liveText);
    return state;
}

PillState PillState::voiceEdit(int selectionWords) {
    PillState state(Kind::voiceEdit);
    state.m_count = selectionWords;
    return state;
}

PillState PillState::learned(std::string word) {
    PillState state(Kind::learned);
    state.m_text = std::move(word);
    return state;
}

PillState PillState::refused(RefuseReason reason) {
    PillState state(Kind::refused);
    state.m_reason = reason;
    return state;
}

bool PillState::isTransient() const {
    switch (m_kind) {
    case Kind::inserted:
    case Kind::learned:
    case Kind::refused:
    case Kind::copied:
    case Kind::offline:
    case Kind::silence:
    case Kind::limit:
        return true;
    case Kind::hidden:
    case Kind::listening:
    case Kind::polishing:
    case Kind::handsFree:
    case Kind::voiceEdit:
        return false;
    }
    return false;
}

} // namespace talverin
