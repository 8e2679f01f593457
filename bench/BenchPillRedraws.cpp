// How often the pill's window redraws, on a private X server: while the polishing dots pulse
// (budget 30 a second) and while the pill rests with nothing moving (budget none at all), each
// counted over two seconds of wall-clock time once the pill has reached that state. The pointer
// wanders over the desktop meanwhile, as a user's does, since its motion reaches the pill too.
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillModel.h"
#include "TalverinPill/PillPanel.h"
#include "TalverinPill/PillSnapshot.h"
#include "TalverinPill/linux/PillWindowDriverGtk.h"
#include "support/LinuxTestSupport.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace talverin {
namespace {

constexpr double window = 2; // seconds counted

// One X server and GTK for the whole program: GTK opens its display once.
bool openDisplay() {
    static test::PrivateXServer* server = nullptr;
    if (!gdk_display_get_default()) {
        server = new test::PrivateXServer;
        if (server->display().empty())
            return false;
        setenv("DISPLAY", server->display().c_str(), 1);
        if (!gtk_init_check(nullptr, nullptr))
            return false;
        PillSnapshot::prepareFonts();
    }
    return gdk_display_get_default() != nullptr;
}

void measure(benchmark::State& state, const std::function<void(PillPanel&)>& bring) {
    if (!openDisplay()) {
        state.SkipWithError("no Xvfb");
        return;
    }
    test::RealTimeLoop loop;
    auto model = std::make_shared<PillModel>();
    auto made = PillWindowDriverGtk::create(model);
    if (!made.ok()) {
        state.SkipWithError("no pill window");
        return;
    }
    auto driver = made.value();
    PillPanel panel(model, driver, PillLang::en,
                    [](std::string_view text, double size, double weight, bool tabular) {
                        return PillFonts::width(text, size, weight, tabular);
                    });
    bring(panel);
    // The state has arrived once its steps have run and nothing but the dots still moves.
    const double shown = test::monotonicNow();
    loop.runUntil(
        [&] {
            return test::monotonicNow() - shown > 1 && driver->isVisible() &&
                   model->shape().opacity == 1 && driver->framesDrawn() > 0;
        },
        30);
    loop.runFor(0.5);
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    double perSecond = 0;
    for (auto _ : state) {
        const auto before = driver->framesDrawn();
        const double start = test::monotonicNow();
        int step = 0;
        while (test::monotonicNow() - start < window) {
            // The pointer goes round a circle in the screen's top half, away from the pill.
            const double angle = step++ * 0.3;
            XTestFakeMotionEvent(x, -1, int(320 + 100 * std::cos(angle)),
                                 int(120 + 60 * std::sin(angle)), 0);
            XFlush(x);
            loop.runFor(0.02);
        }
        const double took = test::monotonicNow() - start;
        perSecond = double(driver->framesDrawn() - before) / took;
        state.SetIterationTime(took);
    }
    state.counters["redraws_per_s"] = perSecond;
}

void BM_PillRedrawsPolishing(benchmark::State& state) {
    measure(state, [](PillPanel& panel) { panel.show(PillState::polishing(), std::nullopt); });
    state.SetLabel("budget 30 a second");
}

void BM_PillRedrawsIdleBar(benchmark::State& state) {
    measure(state, [](PillPanel& panel) { panel.setShowsIdleBar(true); });
    state.SetLabel("budget 0 a second");
}

void BM_PillRedrawsInserted(benchmark::State& state) {
    measure(state,
            [](PillPanel& panel) { panel.show(PillState::inserted("Notes"), std::nullopt); });
    state.SetLabel("budget 0 a second");
}

BENCHMARK(BM_PillRedrawsPolishing)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PillRedrawsIdleBar)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PillRedrawsInserted)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace talverin
