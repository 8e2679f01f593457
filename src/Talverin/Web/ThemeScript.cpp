#include "Talverin/Web/ThemeScript.h"

#include "TalverinCore/EnumTable.h"

namespace talverin::ThemeScript {

std::string source(ThemeSetting theme) {
    return "(function () {\n  var t = '" + std::string(toString(theme)) +
           "';\n  window.__tlvTheme = t;\n  var light = window.matchMedia && "
           "window.matchMedia('(prefers-color-scheme: light)').matches;\n  "
           "document.documentElement.dataset.theme = t === 'auto' ? (light ? 'light' : 'dark') : "
           "t;\n})();";
}

} // namespace talverin::ThemeScript
