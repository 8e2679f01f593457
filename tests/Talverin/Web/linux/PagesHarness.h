#pragma once

// The real pages in a real web view on an X server of the test's own, against a Bridge whose
// callbacks reach fakes of the permission watcher, the key tap and the microphone.

#include "Runtime/DefaultsStore.h"
#include "Runtime/MainQueue.h"
#include "Talverin/Web/linux/WebViewController.h"
#include "TalverinCore/HistoryStore.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PermissionWatchingFake.h"
#include "fakes/UrlOpeningFake.h"
#include "support/LinuxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace talverin::test {

class PagesHarness : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xserver.display().empty()) << "no Xvfb";
        setenv("DISPLAY", xserver.display().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
        history = std::make_shared<HistoryStore>(HistoryStore::defaultURL());
    }
    void TearDown() override {
        controller.reset();
        if (window)
            gtk_widget_destroy(window);
    }

    // The Bridge, over whatever the test put in the defaults, wired to the fakes.
    Bridge& makeBridge() {
        bridge = std::make_unique<Bridge>(defaults, history);
        bridge->recordsEvents = true;
        bridge->permissions = [this] { return permissionsFake.current(); };
        bridge->requestPermission = [this](Wire::PermissionKind kind) {
            return permissionsFake.request(kind);
        };
        bridge->openPane = [this](Wire::PermissionKind kind) { permissionsFake.openPane(kind); };
        permissionsFake.onChange = [this](const Wire::Permissions& now, const Wire::Permissions&) {
            bridge->send(Wire::Event::permissions(now));
        };
        bridge->microphones = [this] { return microphones; };
        bridge->insertAgain = [this](std::string text) {
            inserted.push_back(text);
            return insertAnswer.future();
        };
        bridge->copyText = [this](const std::string& text) { copied.push_back(text); };
        bridge->onFinishOnboarding = [this] { ++finishedOnboarding; };
        bridge->onKeyCapture = [this](bool on, Bridge::ViewRole role) {
            if (!on) {
                keyTap.endCapture();
                return KeyCaptureAnswer::off;
            }
            if (!keyTap.beginCapture())
                return KeyCaptureAnswer::noKeyTap;
            captureRole = role;
            return KeyCaptureAnswer::on;
        };
        keyTap.onCapture = [this](const KeyCaptureResult& result) {
            bridge->send(Wire::Event::keyCapture(result), captureRole);
        };
        keyTap.onHoldKeyChange = [this](bool down, double) {
            bridge->send(Wire::Event::holdKey(down), Bridge::ViewRole::onboarding);
        };
        bridge->onMicTest = [this](bool on, Bridge::ViewRole role) {
            if (!on) {
                mic.endLevelCheck();
                return;
            }
            mic.beginLevelCheck([this, role](const MicCheckReading& reading) {
                MainQueue::post(
                    [this, role, reading] { bridge->send(Wire::Event::micLevel(reading), role); });
            });
        };
        return *bridge;
    }

    // Shows the page of the route and waits until it has drawn itself from the native state.
    void show(const std::string& route, Bridge::ViewRole role = Bridge::ViewRole::main,
              ThemeSetting theme = ThemeSetting::automatic) {
        if (!bridge)
            makeBridge();
        const bool onboarding = role == Bridge::ViewRole::onboarding;
        const int width = onboarding ? 880 : 400;
        const int height = 620;
        controller = std::make_unique<WebViewController>(
            *bridge, opener, defaults,
            WebViewController::Options{route, role, width, height, theme, {}});
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), width, height);
        gtk_container_add(GTK_CONTAINER(window), controller->view());
        gtk_widget_show_all(window);
        ASSERT_TRUE(waitFor("document.body.dataset.ready === 'true'", 90))
            << "the page never drew itself: " << run("return document.body.innerText;");
    }

    // Closes the page and its window, as the shell does with the onboarding window.
    void close() {
        controller.reset();
        if (window)
            gtk_widget_destroy(window);
        window = nullptr;
    }

    // Runs an async function body in the page and answers its result as a string.
    std::string run(const std::string& body) {
        // Each call's answer lives as long as the fixture: a call still pending when the page
        // goes away may be answered after the test stopped waiting for it.
        answers.push_back(std::make_unique<Answer>());
        Answer* out = answers.back().get();
        webkit_web_view_call_async_javascript_function(
            controller->webView(), body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Answer*>(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(view), result, &error);
                if (value) {
                    char* text = jsc_value_to_string(value);
                    o->text = text;
                    g_free(text);
                    g_object_unref(value);
                } else {
                    o->text = std::string("script error: ") + (error ? error->message : "");
                    g_clear_error(&error);
                }
            },
            out);
        EXPECT_TRUE(loop.runUntil([&] { return out->text.has_value(); }, 60)) << body;
        return out->text.value_or("(no answer)");
    }

    // Waits until the page's expression holds.
    bool waitFor(const std::string& expression, double seconds = 60) {
        return loop.runUntil(
            [&] { return run("return String(!!(" + expression + "));") == "true"; }, seconds);
    }
    // Waits until the expression's text equals `expected`, and answers the last text seen.
    std::string waitForText(const std::string& expression, const std::string& expected,
                            double seconds = 60) {
        std::string seen;
        loop.runUntil(
            [&] {
                seen = run("return String(" + expression + ");");
                return seen == expected;
            },
            seconds);
        return seen;
    }
    bool waitForNative(const std::function<bool()>& done, double seconds = 60) {
        return loop.runUntil(done, seconds);
    }

    void click(const std::string& selector) {
        const std::string result = run("const e = document.querySelector(" + quoted(selector) +
                                       "); if (!e) return 'missing'; e.click(); return 'ok';");
        EXPECT_EQ(result, "ok") << selector;
    }
    // Types into a field and submits its form.
    void submit(const std::string& selector, const std::string& text) {
        const std::string result = run("const e = document.querySelector(" + quoted(selector) +
                                       "); if (!e) return 'missing'; e.value = " + quoted(text) +
                                       "; e.form.requestSubmit(); return 'ok';");
        EXPECT_EQ(result, "ok") << selector;
    }
    void type(const std::string& selector, const std::string& text) {
        const std::string result = run("const e = document.querySelector(" + quoted(selector) +
                                       "); if (!e) return 'missing'; e.value = " + quoted(text) +
                                       "; e.dispatchEvent(new Event('input')); return 'ok';");
        EXPECT_EQ(result, "ok") << selector;
    }
    std::string text(const std::string& selector) {
        return run("const e = document.querySelector(" + quoted(selector) +
                   "); return e ? e.innerText.trim() : 'missing';");
    }
    // The texts of the toasts on screen, joined by "|".
    std::string toasts() {
        return run("return [...document.querySelectorAll('.toast-text')].map(e => "
                   "e.innerText).join('|');");
    }

    // Makes the next request of that permission answer granted, with no change pushed first,
    // as when the user answers the system's question.
    void quietlyGrant(Wire::PermissionKind kind) {
        auto push = std::exchange(permissionsFake.onChange, nullptr);
        auto now = permissionsFake.current();
        now[kind] = Wire::PermissionState::granted;
        permissionsFake.set(now);
        permissionsFake.onChange = std::move(push);
    }

    // The settings record as stored in the defaults.
    nlohmann::json stored() {
        return defaults.get(std::string(Settings::defaultsKey)).value_or(nlohmann::json::object());
    }

    // A JSON string literal, which is also a JavaScript one.
    static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }

    // Writes a picture of the page into the build tree's screenshots folder.
    bool snapshot(const std::string& name) {
        struct Out {
            bool done = false;
            cairo_surface_t* surface = nullptr;
        } out;
        webkit_web_view_get_snapshot(
            controller->webView(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
            nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Out*>(data);
                o->surface =
                    webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
                o->done = true;
            },
            &out);
        if (!loop.runUntil([&] { return out.done; }, 60) || !out.surface)
            return false;
        const auto folder = screenshotFolder();
        std::filesystem::create_directories(folder);
        const auto status =
            cairo_surface_write_to_png(out.surface, (folder / (name + ".png")).c_str());
        cairo_surface_destroy(out.surface);
        return status == CAIRO_STATUS_SUCCESS;
    }
    static std::filesystem::path screenshotFolder() {
        return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "screenshots";
    }

    TempDir temp; // HOME too: the history and WebKit's caches live there
    // Large enough that the whole of the onboarding window and of the popover is on screen, so
    // that the X server holds every pixel of them.
    PrivateXServer xserver{"1024x768x24"};
    RealTimeLoop loop;
    DefaultsStoreMemory defaults;
    std::shared_ptr<HistoryStore> history;
    PermissionWatchingFake permissionsFake;
    KeyTappingFake keyTap;
    MicCapturingFake mic;
    std::vector<Wire::Microphone> microphones;
    std::vector<std::string> inserted;
    std::vector<std::string> copied;
    Promise<InsertOutcome> insertAnswer;
    int finishedOnboarding = 0;
    Bridge::ViewRole captureRole = Bridge::ViewRole::main;
    struct Answer {
        std::optional<std::string> text;
    };
    std::vector<std::unique_ptr<Answer>> answers; // outlives the web view
    std::unique_ptr<Bridge> bridge;
    UrlOpeningFake opener;
    std::unique_ptr<WebViewController> controller;
    GtkWidget* window = nullptr;
};

} // namespace talverin::test
