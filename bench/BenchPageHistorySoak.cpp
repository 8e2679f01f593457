// The popover page over a long session, on a private X server: 400 dictations reach the shown
// page as history events, as they do while the popover stays open, and the resident memory of
// the page's web process is read after every 100, once the page has shown the last and rested
// for a few seconds. The page should stay flat: it adds and
// drops one row per event and keeps a page of rows. Counters: the memory after loading, after
// the last event, and the growth per event between the first and last hundred.
#include "Runtime/DefaultsStore.h"
#include "Talverin/Web/linux/WebViewController.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/HistoryStore.h"
#include "fakes/UrlOpeningFake.h"
#include "support/LinuxTestSupport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace talverin {
namespace {

constexpr int events = 400;
constexpr int checkpoint = 100;

// The resident memory, in MB, of every web process below this one.
double webProcessMegabytes() {
    const auto parentOf = [](const std::string& pid) -> std::optional<std::string> {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            return std::nullopt;
        // The name is in parentheses and may hold spaces: the fields after it are fixed.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string state, parent;
        rest >> state >> parent;
        return parent;
    };
    const std::string self = std::to_string(getpid());
    double total = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || name.rfind("WebKitWebProces", 0) != 0)
            continue;
        bool ours = false;
        for (auto up = parentOf(pid); up && *up != "0" && *up != "1"; up = parentOf(*up))
            if (*up == self)
                ours = true;
        if (!ours)
            continue;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                total += std::stod(line.substr(6)) / 1024;
    }
    return total;
}

void BM_PageHistorySoak(benchmark::State& state) {
    test::PrivateXServer server("1024x768x24");
    if (server.display().empty()) {
        state.SkipWithError("no Xvfb");
        return;
    }
    char folder[] = "/tmp/talverin-soak-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::filesystem::path home(folder);
    setenv("HOME", folder, 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("DISPLAY", server.display().c_str(), 1);
    if (!gtk_init_check(nullptr, nullptr)) {
        state.SkipWithError("no display");
        return;
    }
    CoreLog::setSink([](const std::string&) {});
    test::RealTimeLoop loop;
    DefaultsStoreMemory defaults;
    auto history = std::make_shared<HistoryStore>(home / "history.json");
    Bridge bridge(defaults, history);
    test::UrlOpeningFake opener;
    auto controller = std::make_unique<WebViewController>(
        bridge, opener, defaults,
        WebViewController::Options{"popover", Bridge::ViewRole::main, 400, 620,
                                   ThemeSetting::automatic, {}});
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), controller->view());
    gtk_widget_show_all(window);

    // Runs a script in the page and answers whether it said "true".
    const auto holds = [&](const std::string& expression) {
        struct Out {
            bool done = false;
            bool yes = false;
        } out;
        const std::string body = "return String(!!(" + expression + "));";
        webkit_web_view_call_async_javascript_function(
            controller->webView(), body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Out*>(data);
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(view), result, nullptr);
                if (value) {
                    char* text = jsc_value_to_string(value);
                    o->yes = std::string(text) == "true";
                    g_free(text);
                    g_object_unref(value);
                }
                o->done = true;
            },
            &out);
        loop.runUntil([&] { return out.done; }, 60);
        return out.yes;
    };
    const auto settle = [&] {
        loop.runFor(3);
        return webProcessMegabytes();
    };

    for (auto _ : state) {
        if (!loop.runUntil([&] { return holds("document.body.dataset.ready === 'true'"); }, 120)) {
            state.SkipWithError("the page never drew itself");
            break;
        }
        std::vector<double> readings{settle()};
        for (int i = 1; i <= events; ++i) {
            const std::string text = "dictation number " + std::to_string(i);
            bridge.addHistory({HistoryItem::newID(), Wire::Date(Clock::now()), "Editor", "", text,
                               text, true, DictationMode::clean});
            if (i % checkpoint == 0) {
                const std::string shown =
                    "document.querySelector('.item .item-text')?.innerText === '" + text + "'";
                loop.runUntil([&] { return holds(shown); }, 120);
                readings.push_back(settle());
            }
        }
        state.counters["loadedMB"] = readings.front();
        state.counters["afterMB"] = readings.back();
        state.counters["firstHundredMB"] = readings[1];
        state.counters["growthKBPerEvent"] =
            (readings.back() - readings[1]) * 1024 / (events - checkpoint);
        for (std::size_t i = 0; i < readings.size(); ++i)
            state.counters["at" + std::to_string(i * checkpoint) + "MB"] = readings[i];
    }
    controller.reset();
    gtk_widget_destroy(window);
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_PageHistorySoak)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace talverin
