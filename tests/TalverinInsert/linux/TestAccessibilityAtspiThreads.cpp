// labels: x11 atspi
// links: TalverinInputLinux TalverinPillLinux
#include "AccessibleDesktopTest.h"
#include "TalverinInsert/AXContext.h"
#include "TalverinInsert/SecureInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <csignal>
#include <gtk/gtk.h>

namespace talverin {
namespace {

class AccessibilityAtspiThreadsTest : public test::AccessibleDesktopTest {};

// Reads run on worker threads while this process's own toolkit answers the accessibility bus
// from the main thread, as the application's pill and popover do, and while another thread
// keeps reading the focused field, as the correction watch does. The application in front is
// killed and replaced between dictations again and again: every read finds the new one's
// field, and nothing in the process is corrupted (AddressSanitizer judges; ThreadSanitizer
// cannot, as it takes GLib's own futex locks between its threads for races).
TEST_F(AccessibilityAtspiThreadsTest, TheFrontApplicationReplacedManyTimesIsReadEachTime) {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    GtkWidget* own = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(own), "Talverin");
    gtk_container_add(GTK_CONTAINER(own), gtk_entry_new());
    gtk_widget_show_all(own);

    SecureInputNone secure;
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        AXContext reader(*backend, secure);
        while (!stop)
            reader.read(100);
    });
    // Waits for a read on a worker thread while the main thread serves this process's
    // toolkit, as the application's main loop does.
    const auto readWhileServing = [&] {
        auto reading = std::async(std::launch::async, [&] {
            AXContext reader(*backend, secure);
            return reader.read(1000);
        });
        while (reading.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            while (gtk_events_pending())
                gtk_main_iteration_do(FALSE);
        return reading.get();
    };

    constexpr int replacements = 8;
    for (int i = 0; i < replacements; ++i) {
        SCOPED_TRACE(i);
        const std::string text = "text of editor " + std::to_string(i);
        auto fixture = start("entry", text);
        const auto context = readWhileServing();
        EXPECT_EQ(context.before, text);
        // The editor dies without a word, as one killed by its user does.
        ::kill(fixture->pid(), SIGKILL);
    }
    stop = true;
    watcher.join();
    gtk_widget_destroy(own);
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

} // namespace
} // namespace talverin
