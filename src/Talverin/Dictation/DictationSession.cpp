#include "Talverin/Dictation/DictationSession.h"

namespace talverin {

void DictationSession::setContext(std::optional<DictationContext> value) {
    if (contextResolved)
        return;
    contextResolved = true;
    context = std::move(value);
    auto waiting = std::exchange(waiters, {});
    const DictationContext answer = context.value_or(DictationContext::unknown());
    for (const auto& waiter : waiting)
        waiter.resolve(answer);
}

} // namespace talverin
