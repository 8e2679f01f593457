// labels: webkit
#include "Talverin/Web/linux/WebViewController.h"

#include "Runtime/DefaultsStore.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/HistoryStore.h"
#include "support/LinuxTestSupport.h"
#include "fakes/UrlOpeningFake.h"
#include "support/LogLines.h"
#include "support/TempDir.h"
#include "Talverin/Web/WebFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace talverin {
namespace {

// One real web view on an X server of the test's own, showing the fixture pages.
class WebViewControllerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xserver.display().empty()) << "no Xvfb";
        setenv("DISPLAY", xserver.display().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
        history = std::make_shared<HistoryStore>(HistoryStore::defaultURL());
        bridge = std::make_unique<Bridge>(defaults, history);
        bridge->recordsEvents = true;
    }
    void TearDown() override {
        controller.reset();
        if (window)
            gtk_widget_destroy(window);
    }

    static void countLoad(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        if (event == WEBKIT_LOAD_FINISHED)
            ++*static_cast<int*>(data);
    }

    void show(ThemeSetting theme = ThemeSetting::automatic) {
        controller = std::make_unique<WebViewController>(
            *bridge, opener, defaults,
            WebViewController::Options{"popover", Bridge::ViewRole::main, 400, 620, theme,
                                       test::fixtureWeb()});
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_container_add(GTK_CONTAINER(window), controller->view());
        g_signal_connect(controller->webView(), "load-changed", G_CALLBACK(countLoad), &loads);
        gtk_widget_show_all(window);
        ASSERT_TRUE(loop.runUntil([&] { return loads >= 1; }, 60)) << "the page never loaded";
    }

    // Runs an async function body in the page and answers its result as a string.
    std::string run(const std::string& body) {
        struct Out {
            std::optional<std::string> text;
        } out;
        webkit_web_view_call_async_javascript_function(
            controller->webView(), body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(view), result, &error);
                auto* o = static_cast<Out*>(data);
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
            &out);
        EXPECT_TRUE(loop.runUntil([&] { return out.text.has_value(); }, 60));
        return out.text.value_or("(no answer)");
    }
    std::string send(const std::string& message) {
        return run("return await window.__send(" + message + ");");
    }

    test::TempDir temp; // HOME too: WebKit keeps caches there
    test::PrivateXServer xserver;
    test::RealTimeLoop loop;
    DefaultsStoreMemory defaults;
    std::shared_ptr<HistoryStore> history;
    std::unique_ptr<Bridge> bridge;
    test::UrlOpeningFake opener;
    std::unique_ptr<WebViewController> controller;
    GtkWidget* window = nullptr;
    int loads = 0;
};

TEST_F(WebViewControllerTest, ThePageTalksToTheBridgeBothWays) {
    show(ThemeSetting::dark);
    EXPECT_EQ(run("return window.__firstTheme;"), "dark dark");

    const auto state = nlohmann::json::parse(send(R"({cmd: "getState"})"));
    EXPECT_EQ(state["value"]["settings"]["theme"], "auto");
    EXPECT_EQ(state["value"]["lang"], "en");

    const auto settings =
        nlohmann::json::parse(send(R"({cmd: "setSettings", args: {pillIdle: false}})"));
    EXPECT_EQ(settings["value"]["pillIdle"], false);
    EXPECT_EQ(run("return window.__events.map(e => e.type).join(',');"), "settings");

    const auto words =
        nlohmann::json::parse(send(R"({cmd: "historyAddWord", args: {word: " Ёлка "}})"));
    EXPECT_EQ(words["value"]["words"], nlohmann::json::array({"Ёлка"}));

    EXPECT_EQ(send(R"({cmd: "frob"})"), R"({"error":"unknown command frob"})");
    EXPECT_EQ(send(R"({cmd: "historyCopy", args: {id: "zz"}})"), R"({"error":"no such item"})");
    EXPECT_EQ(send("undefined"), R"({"error":"bad message"})");

    bridge->send(Wire::Event::shown());
    EXPECT_TRUE(loop.runUntil([&] {
        return run("return window.__events.map(e => e.type).join(',');") ==
               "settings,settings,shown";
    }));
}

TEST_F(WebViewControllerTest, APermissionRequestIsAnsweredWhenItFinishes) {
    Promise<Wire::PermissionState> answer;
    bridge->requestPermission = [&](Wire::PermissionKind) { return answer.future(); };
    show();
    run("window.__pending = window.__send({cmd: 'permissionsRequest', args: {kind: "
        "'microphone'}}).then(t => window.__late = t); return 'sent';");
    EXPECT_EQ(send(R"({cmd: "fnAction"})"), R"({"value":"unknown"})");
    answer.resolve(Wire::PermissionState::granted);
    EXPECT_TRUE(loop.runUntil(
        [&] { return run("return String(window.__late);") == R"({"value":"granted"})"; }, 30));
}

TEST_F(WebViewControllerTest, LinksLeaveOnlyForOrdinarySchemes) {
    show();
    run("document.getElementById('external').click(); return 'ok';");
    run("document.getElementById('blank').click(); return 'ok';");
    run("document.getElementById('file').click(); return 'ok';");
    EXPECT_TRUE(loop.runUntil([&] { return opener.opened.size() >= 2; }, 30));
    EXPECT_EQ(opener.opened,
              (std::vector<std::string>{"https://example.com/", "https://example.org/"}));
    EXPECT_EQ(run("return location.href;"), "tlv-app://app/index.html#popover");
}

TEST_F(WebViewControllerTest, PagesOutsideTheWebFolderOrMissingFail) {
    show();
    std::vector<std::string> failed;
    g_signal_connect(
        controller->webView(), "load-failed",
        G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char* uri, GError*, gpointer d) {
            static_cast<std::vector<std::string>*>(d)->push_back(uri ? uri : "");
            return FALSE;
        }),
        &failed);
    // Paths that climb out are refused by the handler (its own tests); WebKit's URL parser
    // already folds ".." before a request is made.
    for (const std::string url : {"tlv-app://app/missing.html", "tlv-app://app/sub/"}) {
        SCOPED_TRACE(url);
        webkit_web_view_load_uri(controller->webView(), url.c_str());
        EXPECT_TRUE(loop.runUntil(
            [&] { return std::find(failed.begin(), failed.end(), url) != failed.end(); }, 60));
        // The failed load ends before the next one starts.
        EXPECT_TRUE(
            loop.runUntil([&] { return !webkit_web_view_is_loading(controller->webView()); }, 60));
    }
    // The host is ignored: any host serves the same folder, "/" its index.
    const int before = loads;
    webkit_web_view_load_uri(controller->webView(), "tlv-app://other-host/");
    EXPECT_TRUE(loop.runUntil(
        [&] { return loads > before && !webkit_web_view_is_loading(controller->webView()); }, 60));
    EXPECT_EQ(std::find(failed.begin(), failed.end(), "tlv-app://other-host/"), failed.end());
    EXPECT_EQ(run("return location.href + ' ' + typeof window.__tlvEmit;"),
              "tlv-app://other-host/ function");
}

TEST_F(WebViewControllerTest, AnEndedPageProcessStopsItsTestsAndReloads) {
    std::vector<std::string> stopped;
    bridge->onMicTest = [&](bool on, Bridge::ViewRole) {
        stopped.push_back(on ? "mic on" : "mic off");
    };
    bridge->onKeyCapture = [&](bool on, Bridge::ViewRole) {
        stopped.push_back(on ? "key on" : "key off");
        return KeyCaptureAnswer::off;
    };
    show();
    run("window.__marker = 1; return 'ok';");
    webkit_web_view_terminate_web_process(controller->webView());
    EXPECT_TRUE(loop.runUntil([&] { return loads >= 2; }, 60)) << "no reload";
    EXPECT_EQ(stopped, (std::vector<std::string>{"mic off", "key off"}));
    EXPECT_EQ(run("return String(window.__marker);"), "undefined");
}

// The size given is where a window starts, not a floor: the user can make the window smaller.
TEST_F(WebViewControllerTest, TheViewAsksForNoMinimumSize) {
    show();
    GtkRequisition minimum{}, natural{};
    gtk_widget_get_preferred_size(controller->view(), &minimum, &natural);
    EXPECT_LT(minimum.width, 400);
    EXPECT_LT(minimum.height, 620);
    gtk_window_resize(GTK_WINDOW(window), 300, 200);
    EXPECT_TRUE(loop.runUntil(
        [&] { return gtk_widget_get_allocated_width(controller->view()) == 300; }, 60));
}

// A theme set before the view exists changes nothing; once it exists, the next load of the
// page gets the new theme before its first paint.
TEST_F(WebViewControllerTest, AThemeTakesEffectOnlyOnceTheViewExistsAndAtTheNextLoad) {
    controller = std::make_unique<WebViewController>(
        *bridge, opener, defaults,
        WebViewController::Options{"popover", Bridge::ViewRole::main, 400, 620,
                                   ThemeSetting::light, test::fixtureWeb()});
    controller->setTheme(ThemeSetting::dark);
    EXPECT_EQ(controller->theme(), ThemeSetting::light);
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), controller->view());
    g_signal_connect(controller->webView(), "load-changed", G_CALLBACK(countLoad), &loads);
    gtk_widget_show_all(window);
    ASSERT_TRUE(loop.runUntil([&] { return loads >= 1; }, 60));
    EXPECT_EQ(run("return window.__tlvTheme;"), "light");

    controller->setTheme(ThemeSetting::dark);
    EXPECT_EQ(run("return window.__tlvTheme;"), "light") << "the page is not reloaded";
    webkit_web_view_reload(controller->webView());
    ASSERT_TRUE(loop.runUntil([&] { return loads >= 2; }, 60));
    EXPECT_EQ(run("return window.__tlvTheme;"), "dark");
}

// A page process that ends again soon after a reload is reloaded no sooner than ten seconds
// after the last reload, and the line says how long it waits.
TEST_F(WebViewControllerTest, ASecondEndWithinTenSecondsWaitsOutTheSpacing) {
    test::LogLines logs;
    show();
    webkit_web_view_terminate_web_process(controller->webView());
    ASSERT_TRUE(loop.runUntil([&] { return loads >= 2; }, 60)) << "no reload";
    EXPECT_EQ(logs.starting("Web: "),
              std::vector<std::string>{"Web: the main page's process ended: reloading in 0 s"});

    webkit_web_view_terminate_web_process(controller->webView());
    ASSERT_TRUE(loop.runUntil([&] { return logs.starting("Web: ").size() == 2; }, 60));
    const std::string line = logs.starting("Web: ")[1];
    const std::string prefix = "Web: the main page's process ended: reloading in ";
    ASSERT_TRUE(line.starts_with(prefix)) << line;
    const int seconds = std::stoi(line.substr(prefix.size()));
    EXPECT_GT(seconds, 0) << line;
    EXPECT_LE(seconds, 10) << line;
    // The wait itself is the controller's arithmetic on its clock, which the line reports; the
    // wall clock between two loads on a busy machine says more about the machine.
    ASSERT_TRUE(loop.runUntil([&] { return loads >= 3; }, 90)) << "no second reload";
}

} // namespace
} // namespace talverin
