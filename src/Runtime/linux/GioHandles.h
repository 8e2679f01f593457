#pragma once

#include <memory>

#include <gio/gio.h>

namespace talverin {

// Owners of the GLib and GIO handles the Linux backends hold, so that every early return lets
// go of them.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GVariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;

// Fills a GErrorPtr through a GError** out-parameter:
//     GErrorPtr error;
//     call(..., ErrorOut(error));
class ErrorOut {
public:
    explicit ErrorOut(GErrorPtr& owner) : m_owner(owner) {}
    ~ErrorOut() { m_owner.reset(m_raw); }
    ErrorOut(const ErrorOut&) = delete;
    ErrorOut& operator=(const ErrorOut&) = delete;
    operator GError**() { return &m_raw; }

private:
    GErrorPtr& m_owner;
    GError* m_raw = nullptr;
};

} // namespace talverin
