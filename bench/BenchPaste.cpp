// A dictation of 200 characters inserted by paste, on a private X server: the inserter's own
// time from the call to its answer (budget 50 ms). It takes the clipboard with the text and
// its markers, resolves the paste key from the layout and posts the chord through XTest; the
// user's clipboard was kept at dictation start, outside the figure. The target's own reading
// of the text is not ours and not counted.
#include "TalverinCore/CoreLog.h"
#include "TalverinInsert/AccessibilityNull.h"
#include "TalverinInsert/Inserter.h"
#include "TalverinInsert/linux/KeyPostingXTest.h"
#include "TalverinInsert/linux/PasteboardX11.h"
#include "support/LinuxTestSupport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace talverin {
namespace {

void BM_InsertByPaste(benchmark::State& state) {
    test::PrivateXServer server;
    if (server.display().empty()) {
        state.SkipWithError("no Xvfb");
        return;
    }
    test::RealTimeLoop loop;
    // The inserter's line for each of the iterations would drown the figure.
    struct Quiet {
        CoreLog::Sink previous = CoreLog::sink();
        Quiet() {
            CoreLog::setSink([](const std::string&) {});
        }
        ~Quiet() { CoreLog::setSink(previous); }
    } quiet;
    auto board = PasteboardX11::create(server.display());
    auto keys = KeyPostingXTest::create(std::make_shared<SyntheticInput>(), server.display());
    if (!board || !keys) {
        state.SkipWithError("no X connection");
        return;
    }
    AccessibilityNull accessibility("not measured");
    SecureInputNone secure;
    Inserter inserter(
        Inserter::Services{accessibility, **board, **keys, **keys, secure, "org.talverin.bench"});
    // The insertion starts when the inserter's queue takes it up, after the snapshot of
    // prepare(): the probe is its first step.
    std::atomic<std::int64_t> started{0};
    inserter.probe = [&](const DictationContext&) {
        started = std::chrono::steady_clock::now().time_since_epoch().count();
        return InsertEnvironment{true, false, FocusVerdict::same};
    };
    DictationContext context;
    context.appName = "Notes";
    context.bundleID = "org.example.Notes";
    context.isEditable = true;
    context.elementToken = ElementToken(std::make_shared<AXElementBox>(
        nullptr, 1, "AXTextArea", Editability::editable, std::nullopt, false));
    std::string text;
    while (text.size() < 200)
        text += "please send the quarterly report to the team before Friday ";
    text.resize(200);

    for (auto _ : state) {
        inserter.prepare();
        auto outcome = inserter.insert(text, context);
        while (!outcome.isReady())
            std::this_thread::yield();
        const auto took = std::chrono::steady_clock::now().time_since_epoch() -
                          std::chrono::steady_clock::duration(started.load());
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        benchmark::DoNotOptimize(outcome.peek());
    }
    state.SetLabel("budget 50 ms");
}
// Few iterations: each one leaves a restore due a little later, and they must not pile up.
BENCHMARK(BM_InsertByPaste)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talverin
