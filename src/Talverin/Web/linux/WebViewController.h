#pragma once

#include "Talverin/Web/Bridge.h"
#include "Talverin/Web/BundleSchemeHandler.h"
#include "Talverin/Web/UrlOpening.h"
#include "TalverinCore/ThemeSetting.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace talverin {

class DefaultsStore;
class PageWebKit;
struct MessageContext;

// Shows one page of the local web application in a WebKitGTK view: the page scheme, the
// message handler "tlv" on a user-content manager of its own (so a message tells which view
// sent it), the theme script, the link policy and the reload after the page's process ended.
// Main thread only.
class WebViewController final {
public:
    struct Options {
        std::string route;     // the part of the URL after "#"
        Bridge::ViewRole role; // the page's role with the Bridge
        int width = 400;       // the initial size of the window that shows it; the view itself
        int height = 620;      // asks for no size, so the window can be made smaller
        ThemeSetting theme = ThemeSetting::automatic;
        std::filesystem::path webRoot; // empty: the bundle's "web" folder
    };

    // A reload after the page's process ended comes at the earliest this long after the last.
    static constexpr double reloadSpacing = 10;

    // `defaults` is read once, for "TLInspectable", when the view is built.
    WebViewController(Bridge& bridge, UrlOpening& opener, const DefaultsStore& defaults,
                      Options options);
    ~WebViewController();
    WebViewController(const WebViewController&) = delete;
    WebViewController& operator=(const WebViewController&) = delete;

    // The web view, built and loading on first use.
    GtkWidget* view();
    WebKitWebView* webView() const { return m_webView; }
    ThemeSetting theme() const { return m_options.theme; }
    const BundleSchemeHandler& schemeHandler() const { return m_scheme; }

    // The page has finished loading at least once.
    bool isLoaded() const { return m_loaded; }
    // Main thread: the page finished loading (also after a reload).
    std::function<void()> onLoaded;

    // Replaces the theme script; it takes effect at the page's next load, no reload here.
    void setTheme(ThemeSetting theme);
    // The page's content process ended: stop what it ran, then reload it, spaced out.
    void pageProcessEnded();
    // WebKit finished loading the page.
    void pageLoaded();

private:
    void loadView();
    void addThemeScript();

    Bridge& m_bridge;
    UrlOpening& m_opener;
    const DefaultsStore& m_defaults;
    Options m_options;
    BundleSchemeHandler m_scheme;
    WebKitUserContentManager* m_contentManager = nullptr;
    WebKitWebView* m_webView = nullptr;
    std::shared_ptr<PageWebKit> m_page;
    std::unique_ptr<MessageContext> m_messageContext;
    std::optional<double> m_lastReload;
    bool m_loaded = false;
    // Delayed reloads hold this weakly: a controller that is gone reloads nothing.
    std::shared_ptr<WebViewController*> m_alive;
};

} // namespace talverin
