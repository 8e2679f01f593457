// The read of the focused field at key-down and the inserter's focus check, against a real
// editor of another process (mousepad: a text view behind a few hundred menu items) on an X
// server and accessibility bus of the benchmark's own. Each figure is the median and the worst
// of 20 reads, with the editor focused before the backend starts (no focus event ever names
// its field) and after, on an idle machine and with every core kept busy. A read counts as
// failed when it came back hung or expired.
//
//   build/bench/BenchContextRead
#include "TalverinInsert/AXContext.h"
#include "TalverinInsert/AXSession.h"
#include "TalverinInsert/SecureInput.h"
#include "TalverinInsert/linux/AccessibilityAtspi.h"
#include "TalverinInsert/linux/AccessibleDesktop.h"
#include "support/LinuxTestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

constexpr int reads = 20;

// A program started with the benchmark's display and bus, ended with it.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// Busy loops on every core while it lives.
class Load {
public:
    Load() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < 2 * cores; ++i)
            m_loops.push_back(std::make_unique<Child>(
                std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
    }

private:
    std::vector<std::unique_ptr<Child>> m_loops;
};

struct Figures {
    double median = 0;
    double worst = 0;
    int failed = 0;
};

template <typename Read> Figures measure(Read read) {
    std::vector<double> times;
    Figures figures;
    for (int i = 0; i < reads; ++i) {
        const auto started = std::chrono::steady_clock::now();
        if (!read())
            ++figures.failed;
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                  started)
                            .count());
    }
    std::sort(times.begin(), times.end());
    figures.median = times[times.size() / 2];
    figures.worst = times.back();
    return figures;
}

void report(benchmark::State& state, const std::string& name, const Figures& figures) {
    state.counters[name + "_median_ms"] = figures.median;
    state.counters[name + "_worst_ms"] = figures.worst;
    state.counters[name + "_failed"] = figures.failed;
}

enum class Order { fieldFirst, backendFirst };

void BM_ContextRead(benchmark::State& state) {
    const auto order = static_cast<Order>(state.range(0));
    const bool loaded = state.range(1) != 0;
    test::RealTimeLoop loop;
    test::PrivateXServer server;
    if (server.display().empty()) {
        state.SkipWithError("no Xvfb");
        return;
    }
    test::AccessibleDesktop desktop(server.display());
    if (!desktop.waitForLauncher() || !desktop.enableAccessibility() || !desktop.startRegistry()) {
        state.SkipWithError("no accessibility bus");
        return;
    }
    const auto trusted = [] { return true; };
    std::unique_ptr<AccessibilityAtspi> backend;
    if (order == Order::backendFirst)
        backend = std::make_unique<AccessibilityAtspi>(trusted, server.display());
    ::setenv("GDK_BACKEND", "x11", 1);
    Child editor({"mousepad", "--disable-server"});
    SecureInputNone secure;
    // The editor is ready once its field can be read at all, however slowly.
    const auto ready = [&] {
        AccessibilityAtspi probe(trusted, server.display());
        AXContext reader(probe, secure);
        return reader.read(1000).elementToken.has_value();
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) {
            state.SkipWithError("mousepad did not show a focused field");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!backend)
        backend = std::make_unique<AccessibilityAtspi>(trusted, server.display());
    std::unique_ptr<Load> load = loaded ? std::make_unique<Load>() : nullptr;
    for (auto _ : state) {
        AXContext reader(*backend, secure);
        report(state, "keyDown", measure([&] {
                   const auto context = reader.read(AXContext::defaultTimeoutMs);
                   return context.elementToken.has_value();
               }));
        report(state, "focusCheck", measure([&] {
                   AXSession session(*backend, 100, std::nullopt);
                   const auto app = session.focusedApplication();
                   return app && session.focusedElement(app->element) && !session.hung();
               }));
    }
}

BENCHMARK(BM_ContextRead)
    ->ArgsProduct({{static_cast<long>(Order::fieldFirst), static_cast<long>(Order::backendFirst)},
                   {0, 1}})
    ->ArgNames({"backendFirst", "loaded"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talverin
