#pragma once

#include <string>

namespace talverin {

// One page as the Bridge sees it: a web view with its own message handler "tlv". The Bridge
// holds pages weakly, so the web view's owner decides how long a page lives.
class WebPage {
public:
    virtual ~WebPage() = default;

    // Main thread. Runs the script in the page's main frame; nothing waits for it and no result
    // is read. A page whose content process is gone ignores it.
    virtual void evaluate(const std::string& script) = 0;
    // Main thread. Removes the message handler "tlv" from the page's user content, so the page
    // can no longer send commands. Removing it twice does nothing.
    virtual void removeMessageHandler() = 0;
};

} // namespace talverin
