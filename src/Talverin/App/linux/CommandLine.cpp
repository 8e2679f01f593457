#include "Talverin/App/linux/CommandLine.h"

#include "Talverin/App/Log.h"
#include "Talverin/App/MenuBarIcon.h"
#include "TalverinCloud/linux/CloudLinux.h"

#include "Runtime/Bundle.h"
#include "Runtime/MainQueue.h"
#include "Runtime/linux/SystemEventLoop.h"

#include <iostream>
#include <optional>

namespace talverin::CommandLine {

namespace {

SelfTest::Probes probesFor(const std::string& ownIdentifier) {
    SelfTest::Probes probes;
    probes.ownIdentifier = ownIdentifier;
    // Consent refused: the check only asks whether the build configured a backend, and must
    // not reach the keyring for a token.
    probes.backendConfigured = [](const Bundle& bundle) {
        const auto backend = CloudLinux::backendFromBundle(bundle, [] { return false; });
        return backend && backend->isConfigured();
    };
    probes.menuIconPNG = [] { return MenuBarIcon::png(4); };
    return probes;
}

} // namespace

std::int32_t run(const ProcessEntry::Choice& choice, const std::string& ownIdentifier) {
    tlLogToStderr = true;
    SystemEventLoop loop;
    Runtime::install(&loop);
    std::optional<std::int32_t> code;
    MainQueue::post([&] {
        code = ProcessEntry::run(choice, Bundle::main(), probesFor(ownIdentifier), std::cout);
    });
    // The mode ends by itself; the bound is only there so that nothing waits forever.
    constexpr double modeLimitSeconds = 600;
    loop.runUntil([&] { return code.has_value(); }, modeLimitSeconds);
    std::cout.flush();
    Runtime::install(nullptr);
    return code.value_or(1);
}

} // namespace talverin::CommandLine
