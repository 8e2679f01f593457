#include "support/OrderingScript.h"

#include "Runtime/MainQueue.h"

namespace talverin::test {

void scheduleOrderingScript(std::vector<std::string>& trace) {
    auto mark = [&trace](std::string name) { return [&trace, name] { trace.push_back(name); }; };
    MainQueue::post(mark("p1"));
    // A zero-delay timer made after a post runs after it, and before a later post.
    MainQueue::after(0, mark("t0"));
    MainQueue::post(mark("p2"));
    // Far enough out that a loaded machine still runs p3 and its timer before it.
    MainQueue::after(0.5, [&trace, mark] {
        trace.push_back("t500");
        MainQueue::post(mark("t500-post"));
        MainQueue::after(0, mark("t500-after0"));
    });
    // Far enough out that a loaded machine still runs p3 and its post before it.
    MainQueue::after(0.2, mark("t200"));
    MainQueue::post([&trace, mark] {
        trace.push_back("p3");
        MainQueue::post(mark("p3-post"));
        MainQueue::after(0.2, mark("p3-t200"));
    });
}

std::vector<std::string> expectedOrder() {
    return {"p1",   "t0",      "p2",   "p3",        "p3-post",
            "t200", "p3-t200", "t500", "t500-post", "t500-after0"};
}

} // namespace talverin::test
