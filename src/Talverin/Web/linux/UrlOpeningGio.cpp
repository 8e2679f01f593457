#include "Talverin/Web/linux/UrlOpeningGio.h"

#include "TalverinCore/CoreLog.h"

#include <gio/gio.h>

namespace talverin {

bool UrlOpeningGio::open(const std::string& url) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error))
        return true;
    // The address itself may be private; only the reason is logged.
    CoreLog::write(std::string("Web: a link could not be opened: ") +
                   (error ? error->message : "no handler"));
    g_clear_error(&error);
    return false;
}

} // namespace talverin
