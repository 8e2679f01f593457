// labels: webkit atspi
// What a screen reader finds in the pages and hears from them, read over the real AT-SPI bus by
// a separate client: the permission badges, the key test's result and the toasts are objects of
// the web view's tree, in live regions, and each change of them is announced.
#include "Talverin/Web/linux/PagesHarness.h"

#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

// The probe beside this file, found from this file's own path as the fixtures are.
std::filesystem::path probeProgram() {
    std::filesystem::path file(__FILE__);
    if (file.is_relative())
        file = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / file;
    return file.parent_path() / "page-accessibility-probe";
}

// A screen reader's client of our own process, in a process of its own: its questions are
// answered by this process's main loop, which the test keeps running while it waits.
class ScreenReader {
public:
    explicit ScreenReader(test::RealTimeLoop& loop) : m_loop(loop) {
        const std::string program = probeProgram().string();
        const std::string pid = std::to_string(getpid());
        const char* argv[] = {"/usr/bin/python3", program.c_str(), pid.c_str(), nullptr};
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr,
                                      G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &m_pid,
                                      &m_in, &m_out, nullptr, &error)) {
            m_failure = error ? error->message : "could not start";
            g_clear_error(&error);
            return;
        }
        fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) | O_NONBLOCK);
        if (line(60) != "ready")
            m_failure = "the probe did not start";
    }
    ~ScreenReader() {
        if (m_pid <= 0)
            return;
        close(m_in);
        close(m_out);
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        g_spawn_close_pid(m_pid);
    }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    const std::string& failure() const { return m_failure; }

    nlohmann::json ask(const std::string& command) {
        const std::string text = command + "\n";
        if (write(m_in, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return nlohmann::json();
        const std::string answer = line(60);
        return answer.empty() ? nlohmann::json() : nlohmann::json::parse(answer, nullptr, false);
    }

    // The tree's objects, once one of them satisfies `wanted`; the last tree read otherwise.
    nlohmann::json treeWith(const std::function<bool(const nlohmann::json&)>& wanted) {
        nlohmann::json tree;
        m_loop.runUntil(
            [&] {
                tree = ask("tree");
                for (const auto& node : tree)
                    if (wanted(node))
                        return true;
                return false;
            },
            60);
        return tree;
    }

    // The live-region events heard until one satisfies `wanted`.
    nlohmann::json heardUntil(const std::function<bool(const nlohmann::json&)>& wanted) {
        nlohmann::json all = nlohmann::json::array();
        m_loop.runUntil(
            [&] {
                for (auto& event : ask("events")) {
                    all.push_back(event);
                    if (wanted(event))
                        return true;
                }
                return false;
            },
            60);
        return all;
    }

private:
    // One line of the probe's output, waiting while this process answers its questions.
    std::string line(double seconds) {
        std::string result;
        m_loop.runUntil(
            [&] {
                char buffer[4096];
                ssize_t n;
                while ((n = read(m_out, buffer, sizeof buffer)) > 0)
                    m_buffer.append(buffer, static_cast<std::size_t>(n));
                const auto end = m_buffer.find('\n');
                if (end == std::string::npos)
                    return false;
                result = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return true;
            },
            seconds);
        return result;
    }

    test::RealTimeLoop& m_loop;
    GPid m_pid = 0;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
    std::string m_failure;
};

bool says(const nlohmann::json& node, const std::string& text) {
    return node.value("text", "") == text || node.value("name", "") == text;
}
bool contains(const nlohmann::json& node, const std::string& text) {
    return node.value("text", "").find(text) != std::string::npos;
}

class PagesAccessibilityTree : public test::PagesHarness {
protected:
    void SetUp() override {
        PagesHarness::SetUp();
        if (!std::filesystem::exists("/usr/bin/python3"))
            GTEST_SKIP() << "no python3 for the screen reader's client";
    }
};

TEST_F(PagesAccessibilityTree, ThePermissionBadgesAreLiveAndTheirChangesHeard) {
    permissionsFake.set({Wire::PermissionState::granted, Wire::PermissionState::denied,
                         Wire::PermissionState::notDetermined});
    show("popover");
    click("[data-tab=access]");
    ScreenReader reader(loop);
    ASSERT_EQ(reader.failure(), "");

    const auto tree = reader.treeWith([](const auto& node) { return says(node, "Not asked"); });
    for (const char* state : {"Allowed", "Denied", "Not asked"}) {
        SCOPED_TRACE(state);
        const auto badge = std::find_if(tree.begin(), tree.end(), [&](const auto& node) {
            return node.value("role", "") == "status bar" && says(node, state);
        });
        ASSERT_NE(badge, tree.end()) << tree.dump(1);
        EXPECT_EQ(badge->value("live", ""), "polite");
    }
    // Each badge sits in a group named for its permission.
    EXPECT_TRUE(std::any_of(tree.begin(), tree.end(),
                            [](const auto& node) { return node.value("name", "") == "Accessibility"; }))
        << tree.dump(1);

    permissionsFake.set({Wire::PermissionState::granted, Wire::PermissionState::granted,
                         Wire::PermissionState::notDetermined});
    const auto heard = reader.heardUntil([](const auto& event) { return contains(event, "Allowed"); });
    ASSERT_FALSE(heard.empty());
    EXPECT_TRUE(contains(heard.back(), "Allowed")) << heard.dump(1);
    EXPECT_EQ(heard.back().value("live", ""), "polite");

    // A toast is announced as it comes.
    click("[data-tab=settings]");
    submit("[data-add=languages]", "9");
    const auto toast = reader.heardUntil(
        [](const auto& event) { return contains(event, "A language is two or three letters"); });
    ASSERT_FALSE(toast.empty());
    EXPECT_TRUE(contains(toast.back(), "A language is two or three letters")) << toast.dump(1);
}

TEST_F(PagesAccessibilityTree, TheKeyTestsResultIsHeardAsItChanges) {
    keyTap.start();
    show("onboarding?step=3", Bridge::ViewRole::onboarding);
    ScreenReader reader(loop);
    ASSERT_EQ(reader.failure(), "");
    const auto tree =
        reader.treeWith([](const auto& node) { return says(node, "Hold the key now"); });
    const auto idle = std::find_if(tree.begin(), tree.end(),
                                   [](const auto& node) { return says(node, "Hold the key now"); });
    ASSERT_NE(idle, tree.end()) << tree.dump(1);
    EXPECT_EQ(idle->value("role", ""), "status bar");

    for (const auto& [down, result] : {std::pair{true, "Got it: the key is down"},
                                       std::pair{false, "The key works"}}) {
        SCOPED_TRACE(result);
        keyTap.sendHoldKeyChange(down);
        const auto heard =
            reader.heardUntil([&](const auto& event) { return contains(event, result); });
        ASSERT_FALSE(heard.empty());
        EXPECT_TRUE(contains(heard.back(), result)) << heard.dump(1);
        EXPECT_EQ(heard.back().value("live", ""), "polite");
    }
}

} // namespace
} // namespace talverin
