// labels: tsan
#include "TalverinInsert/AXContext.h"

#include "fakes/AccessibilityBackendFake.h"
#include "fakes/SecureInputFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace talverin {
namespace {

using test::AccessibilityBackendFake;

// Reads run on workers and may overlap: several reads of a web browser's field at once, while
// another thread pushes the engine cache past its limit again and again. The point is that
// ThreadSanitizer sees the caches shared; every read must still answer the field.
TEST(AXContextThreads, OverlappingReadsShareTheCaches) {
    AccessibilityBackendFake desk;
    desk.focusApplication({.pid = 42, .localizedName = "Browser", .bundleID = "com.google.Chrome"});
    desk.focusElement(42, "field");
    desk.attribute("field", "AXRole", std::string("AXTextArea"));
    desk.attribute("field", "AXSelectedTextRange", AXRange{10, 0});
    desk.attribute("field", "AXNumberOfCharacters", std::int64_t{17});
    desk.attribute("field", "AXValue", std::string("Dear Anna, thanks"));
    test::SecureInputFake secure;
    test::LogLines log;
    // A clock that never moves: no read runs out of budget however loaded the machine is.
    AXContext reader(desk, secure, Ticking{[] { return 0.0; }, [](double) {}});

    std::atomic<int> answered = 0;
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                const auto context = reader.read(AXContext::defaultTimeoutMs);
                if (context.before == "Dear Anna," && context.isEditable)
                    ++answered;
            }
        });
    std::thread churn([&] {
        for (std::int32_t pid = 1000; pid < 2000; ++pid)
            reader.engine(pid, RunningApplication{.pid = pid, .bundleID = "com.brave.Browser"});
    });
    for (auto& thread : readers)
        thread.join();
    churn.join();

    EXPECT_EQ(answered.load(), 400);
    EXPECT_EQ(log.starting("AXContext: editable ").size(), 400u);
    EXPECT_GE(log.starting("AXContext: accessibility tree requested").size(), 1u);
}

} // namespace
} // namespace talverin
