#include "Talverin/Web/linux/WebViewController.h"

#include "Runtime/Bundle.h"
#include "Runtime/DefaultsStore.h"
#include "Runtime/MainQueue.h"
#include "Talverin/Web/LinkPolicy.h"
#include "Talverin/Web/ThemeScript.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace talverin {

namespace {

constexpr const char* controllerKey = "talverin-web-controller";
constexpr const char* scheme = "tlv-app";
constexpr const char* handlerName = "tlv";

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

void failRequest(WebKitURISchemeRequest* request, WebKitNetworkError code, const char* text) {
    std::unique_ptr<GError, GErrorFree> error(
        g_error_new_literal(WEBKIT_NETWORK_ERROR, code, text));
    webkit_uri_scheme_request_finish_error(request, error.get());
}

// One request of any page of the process: the scheme is registered once per web context, so the
// answer is found through the view that asked. WebKit waits for it; the file is read at once.
void serveRequest(WebKitURISchemeRequest* request, gpointer) {
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    auto* controller =
        view ? static_cast<WebViewController*>(g_object_get_data(G_OBJECT(view), controllerKey))
             : nullptr;
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    if (!uri || !controller) {
        failRequest(request, WEBKIT_NETWORK_ERROR_FAILED, "bad URL");
        return;
    }
    // The path still carries its percent escapes; the handler decodes it before any check.
    const char* path = webkit_uri_scheme_request_get_path(request);
    auto response = controller->schemeHandler().respond(path ? path : "");
    if (!response) {
        failRequest(request, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST, "file does not exist");
        return;
    }
    GBytes* bytes = g_bytes_new(response->body.data(), response->body.size());
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* answer =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(response->body.size()));
    webkit_uri_scheme_response_set_status(answer, 200, "OK");
    webkit_uri_scheme_response_set_content_type(answer, response->mimeType.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : response->headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    webkit_uri_scheme_response_set_http_headers(answer, headers); // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, answer);
    g_object_unref(answer);
    g_object_unref(stream);
    g_bytes_unref(bytes);
}

void registerSchemeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        webkit_web_context_register_uri_scheme(webkit_web_context_get_default(), scheme,
                                               serveRequest, nullptr, nullptr);
    });
}

} // namespace

// The Bridge's view of one web view. It holds the view weakly: GTK may destroy it first.
class PageWebKit final : public WebPage {
public:
    PageWebKit(WebKitWebView* view, WebKitUserContentManager* manager)
        : m_view(view), m_manager(manager) {
        g_object_add_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));
    }
    ~PageWebKit() override {
        if (m_view)
            g_object_remove_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));
    }
    void evaluate(const std::string& script) override {
        if (m_view)
            webkit_web_view_evaluate_javascript(m_view, script.c_str(),
                                                static_cast<gssize>(script.size()), nullptr,
                                                nullptr, nullptr, nullptr, nullptr);
    }
    void removeMessageHandler() override {
        if (m_handlerRegistered)
            webkit_user_content_manager_unregister_script_message_handler(m_manager, handlerName);
        m_handlerRegistered = false;
    }
    bool m_handlerRegistered = true;

private:
    WebKitWebView* m_view;
    WebKitUserContentManager* m_manager;
};

struct MessageContext {
    Bridge* bridge;
    PageWebKit* page;
};

namespace {

gboolean receiveMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                        gpointer data) {
    auto* context = static_cast<MessageContext*>(data);
    std::optional<std::string> body;
    if (value && !jsc_value_is_undefined(value)) {
        if (char* json = jsc_value_to_json(value, 0)) {
            body = json;
            g_free(json);
        }
    }
    JSCContext* js = value ? JSC_CONTEXT(g_object_ref(jsc_value_get_context(value))) : nullptr;
    webkit_script_message_reply_ref(reply);
    // Some answers come later (a permission request, inserting again); each keeps its reply.
    context->bridge->receive(context->page, body, [reply, js](Bridge::Answer answer) {
        if (answer.value && js) {
            const std::string text = answer.value->dump();
            JSCValue* result = jsc_value_new_from_json(js, text.c_str());
            webkit_script_message_reply_return_value(reply, result);
            g_object_unref(result);
        } else {
            webkit_script_message_reply_return_error_message(
                reply, answer.error.value_or("encoding failed").c_str());
        }
        webkit_script_message_reply_unref(reply);
        if (js)
            g_object_unref(js);
    });
    return TRUE;
}

gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                      gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* opener = static_cast<UrlOpening*>(data);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    const auto verdict =
        LinkPolicy::decision(uri ? std::optional<std::string_view>(uri) : std::nullopt);
    switch (verdict) {
    case LinkPolicy::Decision::allow:
        webkit_policy_decision_use(decision);
        break;
    case LinkPolicy::Decision::openExternally:
        opener->open(uri);
        webkit_policy_decision_ignore(decision);
        break;
    case LinkPolicy::Decision::cancel:
        webkit_policy_decision_ignore(decision);
        break;
    }
    return TRUE;
}

void processTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
    static_cast<WebViewController*>(data)->pageProcessEnded();
}

void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED)
        static_cast<WebViewController*>(data)->pageLoaded();
}

} // namespace

WebViewController::WebViewController(Bridge& bridge, UrlOpening& opener,
                                     const DefaultsStore& defaults, Options options)
    : m_bridge(bridge), m_opener(opener), m_defaults(defaults), m_options(std::move(options)),
      m_scheme(m_options.webRoot.empty() ? Bundle::main().resource("web") : m_options.webRoot),
      m_alive(std::make_shared<WebViewController*>(this)) {}

WebViewController::~WebViewController() {
    if (!m_webView)
        return;
    g_signal_handlers_disconnect_by_data(m_contentManager, m_messageContext.get());
    g_signal_handlers_disconnect_by_data(m_webView, this);
    g_signal_handlers_disconnect_by_data(m_webView, &m_opener);
    g_object_set_data(G_OBJECT(m_webView), controllerKey, nullptr);
    m_page.reset();
    gtk_widget_destroy(GTK_WIDGET(m_webView));
    g_object_unref(m_webView);
    g_object_unref(m_contentManager);
}

GtkWidget* WebViewController::view() {
    if (!m_webView)
        loadView();
    return GTK_WIDGET(m_webView);
}

void WebViewController::addThemeScript() {
    WebKitUserScript* script = webkit_user_script_new(
        ThemeScript::source(m_options.theme).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(m_contentManager, script);
    webkit_user_script_unref(script);
}

void WebViewController::loadView() {
    registerSchemeOnce();
    // Each view gets its own content manager: a message names no view, its manager does.
    m_contentManager = webkit_user_content_manager_new();
    addThemeScript();
    m_webView = WEBKIT_WEB_VIEW(g_object_ref_sink(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", m_contentManager, nullptr)));
    g_object_set_data(G_OBJECT(m_webView), controllerKey, this);

    m_page = std::make_shared<PageWebKit>(m_webView, m_contentManager);
    m_messageContext = std::make_unique<MessageContext>(MessageContext{&m_bridge, m_page.get()});
    webkit_user_content_manager_register_script_message_handler_with_reply(m_contentManager,
                                                                           handlerName, nullptr);
    g_signal_connect(m_contentManager, "script-message-with-reply-received::tlv",
                     G_CALLBACK(receiveMessage), m_messageContext.get());
    g_signal_connect(m_webView, "decide-policy", G_CALLBACK(decidePolicy), &m_opener);
    g_signal_connect(m_webView, "web-process-terminated", G_CALLBACK(processTerminated), this);
    g_signal_connect(m_webView, "load-changed", G_CALLBACK(loadChanged), this);

    // The page draws its own background; the window behind it shows through.
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(m_webView, &clear);
    const auto inspectable = m_defaults.get("TLInspectable");
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(m_webView),
                                                inspectable && *inspectable == true);

    m_bridge.attach(m_page, m_options.role);
    const std::string url = std::string(scheme) + "://app/index.html#" + m_options.route;
    webkit_web_view_load_uri(m_webView, url.c_str());
}

void WebViewController::pageLoaded() {
    m_loaded = true;
    if (onLoaded)
        onLoaded();
}

void WebViewController::setTheme(ThemeSetting theme) {
    if (theme == m_options.theme || !m_webView)
        return;
    m_options.theme = theme;
    webkit_user_content_manager_remove_all_scripts(m_contentManager);
    addThemeScript();
}

void WebViewController::pageProcessEnded() {
    m_bridge.onMicTest(false, m_options.role);
    m_bridge.onKeyCapture(false, m_options.role);
    double delay = 0;
    if (m_lastReload)
        delay = std::max(0.0, reloadSpacing - (Clock::uptime() - *m_lastReload));
    CoreLog::write("Web: the " + std::string(toString(m_options.role)) +
                   " page's process ended: reloading in " +
                   std::to_string(static_cast<long long>(std::ceil(delay))) + " s");
    std::weak_ptr<WebViewController*> alive = m_alive;
    WebKitWebView* view = m_webView;
    MainQueue::after(delay, [alive, view] {
        auto controller = alive.lock();
        if (!controller || (*controller)->m_webView != view || !view)
            return;
        (*controller)->m_lastReload = Clock::uptime();
        webkit_web_view_reload(view);
    });
}

} // namespace talverin
