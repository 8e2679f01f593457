// labels: webkit x11
// The toasts as the X server shows them over the settings: each a whole opaque box, stacked
// without overlap, its coloured mark inside its own box.
#include "Talverin/Web/linux/PagesHarness.h"

#include <gdk/gdk.h>

#include <cstdint>
#include <sstream>

namespace talverin {
namespace {

struct Box {
    int left, top, right, bottom; // window pixels; right and bottom are outside the box
};

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

// The window's pixels as the X server holds them.
class Screen {
public:
    explicit Screen(GtkWidget* window)
        : m_pixbuf(gdk_pixbuf_get_from_window(gtk_widget_get_window(window), 0, 0,
                                              gtk_widget_get_allocated_width(window),
                                              gtk_widget_get_allocated_height(window))) {}
    ~Screen() {
        if (m_pixbuf)
            g_object_unref(m_pixbuf);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    bool valid() const { return m_pixbuf != nullptr; }
    // Keeps the picture for a person to look at when a comparison fails.
    void keep(const std::filesystem::path& file) const {
        std::filesystem::create_directories(file.parent_path());
        gdk_pixbuf_save(m_pixbuf, file.c_str(), "png", nullptr, nullptr);
    }
    Rgb at(int x, int y) const {
        const guchar* p = gdk_pixbuf_get_pixels(m_pixbuf) + y * gdk_pixbuf_get_rowstride(m_pixbuf) +
                          x * gdk_pixbuf_get_n_channels(m_pixbuf);
        return {p[0], p[1], p[2]};
    }
    // The pixels of one row from x0 to x1 (outside) that differ from `colour`.
    int differing(int y, int x0, int x1, Rgb colour) const {
        int count = 0;
        for (int x = x0; x < x1; ++x)
            count += at(x, y) == colour ? 0 : 1;
        return count;
    }

private:
    GdkPixbuf* m_pixbuf;
};

struct Look {
    const char* lang;
    const char* theme;
};

void PrintTo(const Look& look, std::ostream* out) {
    *out << look.lang << "/" << look.theme;
}

class PagesToasts : public test::PagesHarness, public testing::WithParamInterface<Look> {
protected:
    // The boxes of the toasts on screen, top to bottom.
    std::vector<Box> toastBoxes() {
        std::vector<Box> boxes;
        std::istringstream in(
            run("return [...document.querySelectorAll('.toast')].map(e => { const r = "
                "e.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]"
                ".map(Math.round).join(' '); }).join(';');"));
        std::string one;
        while (std::getline(in, one, ';')) {
            Box box{};
            std::istringstream(one) >> box.left >> box.top >> box.right >> box.bottom;
            boxes.push_back(box);
        }
        return boxes;
    }
    Rgb cssColour(const std::string& expression) {
        std::istringstream in(run("const m = (" + expression +
                                  ").match(/\\d+/g); return m.slice(0, 3).join(' ');"));
        Rgb c{};
        in >> c.r >> c.g >> c.b;
        return c;
    }
};

TEST_P(PagesToasts, EachIsWholeAndOpaqueAndNoneOverlaps) {
    setenv("LANGUAGE", GetParam().lang, 1);
    defaults.set(std::string(Settings::defaultsKey), {{"theme", GetParam().theme}});
    show("popover");
    click("[data-tab=settings]");
    // Four failures in a row: errors stay until dismissed, and at most three are shown.
    for (const char* tag : {"1", "2", "3", "4"})
        submit("[data-add=languages]", tag);
    ASSERT_TRUE(waitFor("document.querySelectorAll('.toast').length === 3 && "
                        "document.getAnimations().every(a => a.playState !== 'running')"));
    const auto boxes = toastBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    const Rgb face = cssColour("getComputedStyle(document.querySelector('.toast')).backgroundColor");
    const Rgb mark = cssColour("getComputedStyle(document.documentElement)"
                               ".getPropertyValue('--danger')");

    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(i);
        const Box& b = boxes[i];
        EXPECT_GT(b.right - b.left, 200);
        EXPECT_GE(b.top, 0);
        EXPECT_LE(b.bottom, 620);
        if (i > 0)
            EXPECT_GE(b.top, boxes[i - 1].bottom + 4) << "stacked with a gap, never overlapping";
    }

    // The rows just inside each box's top and bottom padding are the toast's own face across
    // its width (clear of the rounded corners): nothing of the page reads through. The mark is
    // inside the padding, and the gap between two toasts holds none of its colour.
    std::string verdict;
    const bool drawn = loop.runUntil(
        [&] {
            Screen screen(window);
            if (!screen.valid())
                return false;
            std::ostringstream out;
            for (std::size_t i = 0; i < boxes.size(); ++i) {
                const Box& b = boxes[i];
                for (int y : {b.top + 3, b.bottom - 4})
                    if (int n = screen.differing(y, b.left + 16, b.right - 16, face))
                        out << "toast " << i << " row " << y << ": " << n
                            << " pixels not its face; ";
                const int middle = (b.top + b.bottom) / 2;
                if (screen.at(b.left + 13, middle) != mark)
                    out << "toast " << i << " mark " << screen.at(b.left + 13, middle) << "; ";
                if (screen.at(b.left + 6, middle) != face)
                    out << "toast " << i << " edge " << screen.at(b.left + 6, middle) << "; ";
                if (i > 0)
                    for (int x = boxes[i].left; x < boxes[i].right; ++x)
                        if (screen.at(x, boxes[i].top - 2) == mark)
                            out << "mark colour between toasts at " << x << "; ";
            }
            verdict = out.str();
            return verdict.empty();
        },
        30);
    EXPECT_TRUE(drawn) << verdict << " (face " << face << ", mark " << mark << ")";
    if (!drawn) {
        const std::string name = std::string("toasts-") + GetParam().lang + "-" + GetParam().theme;
        Screen(window).keep(screenshotFolder() / (name + ".png"));
    }
}

INSTANTIATE_TEST_SUITE_P(Looks, PagesToasts,
                         testing::Values(Look{"en", "light"}, Look{"en", "dark"},
                                         Look{"ru", "light"}, Look{"ru", "dark"}),
                         [](const auto& info) {
                             return std::string(info.param.lang) + "_" + info.param.theme;
                         });

} // namespace
} // namespace talverin
