#include "fakes/ContextReadingFake.h"

#include "Runtime/MainQueue.h"
#include "Runtime/VirtualWorld.h"

#include <gtest/gtest.h>

#include <string>

namespace talverin::test {

DictationContext ContextReadingFake::read(int timeoutMs) {
    log.record("read", std::to_string(timeoutMs));
    if (MainQueue::isCurrent())
        ADD_FAILURE() << "ContextReading::read() was called on the main queue; it blocks its "
                         "caller and belongs on a worker";
    std::optional<Promise<DictationContext>> answer = answers.take();
    if (!answer)
        return fallback;
    if (!answer->isResolved()) {
        auto* world = dynamic_cast<VirtualWorld*>(Runtime::current());
        if (!world) {
            ADD_FAILURE() << "ContextReadingFake needs a VirtualWorld for a delayed answer";
            return fallback;
        }
        // The worker is blocked in here; everything else in the world goes on meanwhile.
        while (!answer->isResolved()) {
            if (!world->stepNext()) {
                ADD_FAILURE() << "ContextReadingFake: the world ran idle before the read was "
                                 "answered";
                return fallback;
            }
        }
    }
    return answer->future().peek().value_or(fallback);
}

} // namespace talverin::test
