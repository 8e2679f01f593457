// labels: webkit
#include "Talverin/Web/linux/PagesHarness.h"

namespace talverin {
namespace {

using Pages = test::PagesHarness;

TEST_F(Pages, TheMainPageLoadsTheNativeState) {
    history->append({HistoryItem::newID(), Wire::Date(Clock::now()), "Editor", "", "one two three",
                     "one two three", true, DictationMode::clean});
    show("popover");
    EXPECT_EQ(text("#words-today"), "3 words today");
    EXPECT_EQ(run("return document.querySelectorAll('.item').length;"), "1");
}

} // namespace
} // namespace talverin
