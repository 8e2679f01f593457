#pragma once

#include "Runtime/MainQueue.h"
#include "Runtime/VirtualWorld.h"
#include "Talverin/Dictation/DictationController.h"
#include "TalverinCore/CoreLog.h"
#include "fakes/CallLog.h"
#include "fakes/ClipEncodingFake.h"
#include "fakes/ContextReadingFake.h"
#include "fakes/DictatingFake.h"
#include "fakes/DuckingFake.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/LanguageRecognizingFake.h"
#include "fakes/LiveDraftingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PermissionWatchingFake.h"
#include "fakes/PillPresentingFake.h"
#include "fakes/SoundPlayingFake.h"
#include "fakes/TextInsertingFake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talverin::test {

// The encoder as the controller sees it: the counting fake inside, a finish that takes
// `latency` seconds of the world (the worker is blocked meanwhile, as the real finish blocks
// it), and a check that the finish never runs on the main queue.
class TimedEncoder final : public ClipEncoding {
public:
    TimedEncoder(std::shared_ptr<ClipEncodingFake> inner, double latency,
                 std::function<void()> onFinish)
        : m_inner(std::move(inner)), m_latency(latency), m_onFinish(std::move(onFinish)) {}

    void append(const MicBuffer& buffer) override { m_inner->append(buffer); }
    std::vector<std::uint8_t> finish() override {
        if (MainQueue::isCurrent())
            ADD_FAILURE() << "the encoder's finish blocks its caller and belongs on a worker";
        if (m_onFinish)
            m_onFinish();
        if (m_latency > 0) {
            auto* world = dynamic_cast<VirtualWorld*>(Runtime::current());
            Promise<Done> over;
            MainQueue::after(m_latency, [over] { over.resolve(Done{}); });
            while (!over.isResolved() && world && world->stepNext()) {
            }
        }
        return m_inner->finish();
    }
    void cancel() override { m_inner->cancel(); }

private:
    std::shared_ptr<ClipEncodingFake> m_inner;
    double m_latency;
    std::function<void()> m_onFinish;
};

// A dictation controller on the virtual world, wired to a fake of every service, with the
// shell's callbacks and the log lines recorded. Time starts at T0; a test schedules what the
// user does at absolute times with at() and runs the world with runTo().
struct DictationRig {
    static constexpr double T0 = 1000.0;

    VirtualWorld world{T0};
    std::shared_ptr<KeyTappingFake> keyTap = std::make_shared<KeyTappingFake>();
    std::shared_ptr<MicCapturingFake> mic = std::make_shared<MicCapturingFake>();
    std::shared_ptr<LiveDraftingFake> liveDraft = std::make_shared<LiveDraftingFake>();
    std::shared_ptr<ContextReadingFake> reader = std::make_shared<ContextReadingFake>();
    std::shared_ptr<TextInsertingFake> inserter = std::make_shared<TextInsertingFake>();
    std::shared_ptr<DictatingFake> cloud = std::make_shared<DictatingFake>();
    std::shared_ptr<PillPresentingFake> pill = std::make_shared<PillPresentingFake>();
    std::shared_ptr<SoundPlayingFake> sounds = std::make_shared<SoundPlayingFake>();
    std::shared_ptr<DuckingFake> ducker = std::make_shared<DuckingFake>();
    std::shared_ptr<PermissionWatchingFake> permissions =
        std::make_shared<PermissionWatchingFake>();
    std::shared_ptr<LanguageRecognizingFake> recognizer =
        std::make_shared<LanguageRecognizingFake>();
    std::vector<std::shared_ptr<ClipEncodingFake>> encoders; // every one handed out
    // What the bundle's encoders do: whether it hands them out at all, how long their finish
    // takes, and what runs when it begins.
    bool handOutEncoders = true;
    double flushLatency = 0;
    std::function<void()> onFlush;
    // What reached the shell's onDictated, in order.
    std::vector<DictationController::Dictated> dictated;
    std::shared_ptr<Services> services;
    std::unique_ptr<DictationController> controller;

    // The shell's side: "onBusy true", "onActive false", "onMicFailed ...", "closePopover" ...
    CallLog shell;
    // Every log line, as a call named "line" whose arguments are the line.
    CallLog lines;
    bool popoverOpen = false;
    bool targetIsReady = true;
    Settings settings;

    // `prepare` may change the bundle (timing, screen frames ...) before the controller is
    // made from it.
    explicit DictationRig(const std::function<void(Services&)>& prepare = {}) {
        cloud->configured = false;
        services = std::make_shared<Services>();
        services->keyTap = keyTap;
        services->mic = mic;
        services->liveDraft = liveDraft;
        services->context = reader;
        services->inserter = inserter;
        services->dictate = cloud;
        services->pill = pill;
        services->sounds = sounds;
        services->ducker = ducker;
        services->permissions = permissions;
        services->languageRecognizer = recognizer;
        services->makeEncoder = [this] {
            if (!handOutEncoders)
                return std::shared_ptr<ClipEncoding>();
            auto encoder = std::make_shared<ClipEncodingFake>();
            encoders.push_back(encoder);
            return std::shared_ptr<ClipEncoding>(
                std::make_shared<TimedEncoder>(encoder, flushLatency, onFlush));
        };
        if (prepare)
            prepare(*services);
        controller = std::make_unique<DictationController>(services);
        auto& c = *controller;
        c.settings = [this] { return settings; };
        c.popoverShown = [this] { return popoverOpen; };
        c.closePopover = [this] {
            shell.record("closePopover");
            bool was = popoverOpen;
            popoverOpen = false;
            return was;
        };
        c.targetReady = [this] {
            shell.record("targetReady");
            return targetIsReady;
        };
        c.onActive = [this](bool active) { shell.record("onActive", active ? "true" : "false"); };
        c.onBusy = [this](bool busy) { shell.record("onBusy", busy ? "true" : "false"); };
        c.onMicFailed = [this](const MicError& error) {
            shell.record("onMicFailed", error.description());
        };
        c.onDictated = [this](const DictationController::Dictated& record) {
            shell.record("onDictated", record.item.clean);
            dictated.push_back(record);
        };
        c.onInsertedForLearning = [this](const std::string& text, const DictationContext&) {
            shell.record("onInsertedForLearning", text);
        };
        CoreLog::setSink([this](const std::string& line) { lines.record("line", line); });
        c.start();
    }

    ~DictationRig() {
        CoreLog::setSink({});
        // The controller goes first, while the services its flows hold are still there.
        controller.reset();
    }

    DictationController& dictation() { return *controller; }
    DictationPhase::Kind phase() const { return controller->phase().kind; }

    // Runs `action` on the main queue at the absolute uptime `time`.
    void at(double time, std::function<void()> action) {
        MainQueue::after(std::max(0.0, time - Clock::uptime()), std::move(action));
    }
    void runTo(double time) { world.runUntil(time); }

    // The user's hand on the key, as the key tap relays it: each event reaches the
    // controller in the next dispatch, stamped with the time it was sent.
    void pressAt(double time) {
        at(time, [this] { keyTap->sendPress(); });
    }
    void releaseAt(double time) {
        at(time, [this] { keyTap->sendRelease(); });
    }
    void doubleTapAt(double time) {
        at(time, [this] { keyTap->sendDoubleTap(); });
    }
    void cancelAt(double time, KeyCancelReason reason) {
        at(time, [this, reason] { keyTap->sendCancel(reason); });
    }

    // Every log line so far, or those written in [from, to].
    std::vector<std::string> logLines(double from = 0, double to = 1e18) const {
        return argsIn(lines, from, to);
    }

    // "name args" of each call of a fake's log in [from, to].
    static std::vector<std::string> callsIn(const CallLog& log, double from, double to) {
        std::vector<std::string> out;
        for (const auto& call : log.calls())
            if (call.time >= from && call.time <= to)
                out.push_back(call.args.empty() ? call.name : call.name + " " + call.args);
        return out;
    }

    static std::vector<std::string> argsIn(const CallLog& log, double from, double to) {
        std::vector<std::string> out;
        for (const auto& call : log.calls())
            if (call.time >= from && call.time <= to)
                out.push_back(call.args);
        return out;
    }

    // The pill's states shown, as kind names, with their times.
    std::vector<std::string> shownKinds() const {
        std::vector<std::string> out;
        for (const auto& shown : pill->shown())
            out.push_back(std::string(toString(shown.state.kind())));
        return out;
    }

    static DictationContext secureContext() {
        DictationContext context;
        context.appName = "Keychain";
        context.isSecure = true;
        context.isEditable = true;
        return context;
    }

    static MicBuffer block(double time, float level = 0.5f) {
        return MicBuffer(std::vector<float>(160, 0.1f), level, time);
    }
};

} // namespace talverin::test
