// labels: keyring
#include "TalverinCloud/linux/SecretStoreLibsecret.h"

#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <libsecret/secret.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace talverin {
namespace {

constexpr const char* childMarker = "TALVERIN_LOCKED_KEYRING_CHILD";

std::string uniqueService() {
    return "app.talverin.Talverin.test-" + std::to_string(getpid());
}

// The labels of the items of `service`, read through libsecret itself.
std::vector<std::string> itemLabels(const std::string& service, const std::string& account) {
    SecretService* secretService = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    if (!secretService)
        return {"<no service>"};
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"),
                        const_cast<char*>(service.c_str()));
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(account.c_str()));
    GList* items = secret_service_search_sync(secretService, nullptr, attributes, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    std::vector<std::string> labels;
    for (GList* at = items; at; at = at->next) {
        gchar* label = secret_item_get_label(static_cast<SecretItem*>(at->data));
        labels.push_back(label ? label : "");
        g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(secretService);
    return labels;
}

// A read as the tests compare it: the secret, or the error's name in angle brackets.
std::string outcome(const SecretStore::Read& read) {
    return read ? *read : "<" + std::string(toString(read.error())) + ">";
}

std::string outcome(const SecretStore::Write& write) {
    return write ? "ok" : "<" + std::string(toString(write.error())) + ">";
}

class SecretStoreLibsecretTest : public ::testing::Test {
protected:
    ~SecretStoreLibsecretTest() override {
        for (const char* account : {"refreshToken", "refreshToken@127.0.0.1:4000"})
            (void)store.remove(account);
    }

    test::LogLines log;
    std::string service = uniqueService();
    SecretStoreLibsecret store{service};
};

TEST_F(SecretStoreLibsecretTest, StoresReplacesAndRemovesOneItemPerAccount) {
    EXPECT_EQ(outcome(store.get("refreshToken")), "<absent>");
    EXPECT_EQ(outcome(store.set("refreshToken", "refresh-1")), "ok");
    EXPECT_EQ(outcome(store.get("refreshToken")), "refresh-1");
    EXPECT_EQ(itemLabels(service, "refreshToken"), std::vector<std::string>{"Talverin session"});

    EXPECT_EQ(outcome(store.set("refreshToken", "refresh-2")), "ok");
    EXPECT_EQ(outcome(store.set("refreshToken@127.0.0.1:4000", "local")), "ok");
    EXPECT_EQ(outcome(store.get("refreshToken")), "refresh-2");
    EXPECT_EQ(outcome(store.get("refreshToken@127.0.0.1:4000")), "local");
    EXPECT_EQ(itemLabels(service, "refreshToken").size(), 1u);

    EXPECT_EQ(outcome(store.remove("refreshToken")), "ok");
    EXPECT_EQ(outcome(store.remove("refreshToken")), "ok");
    EXPECT_EQ(outcome(store.get("refreshToken")), "<absent>");
    EXPECT_EQ(outcome(store.get("refreshToken@127.0.0.1:4000")), "local");
    // Nothing here is a failure: a missing item is silent.
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SecretStoreLibsecretTest, AKeyringThatDoesNotAnswerInTimeIsAFailure) {
    ASSERT_EQ(outcome(store.set("refreshToken", "refresh-1")), "ok");
    SecretStoreLibsecret hurried(service, 0);
    EXPECT_EQ(outcome(hurried.get("refreshToken")), "<timed out>");
    EXPECT_EQ(outcome(hurried.set("refreshToken", "refresh-2")), "<timed out>");
    EXPECT_EQ(outcome(hurried.remove("refreshToken")), "<timed out>");
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "Cloud: keychain: the refresh token could not be read (timed out)",
                  "Cloud: keychain: the refresh token could not be kept (timed out)",
                  "Cloud: keychain: the refresh token could not be removed (timed out)"}));
    log.clear();
    EXPECT_EQ(outcome(store.get("refreshToken")), "refresh-1");
}

// Locking the collection cannot be undone without a prompt, so it happens in a keyring of
// its own: this test runs itself again inside a private D-Bus session.
TEST(SecretStoreLibsecretLocked, ALockedItemIsAFailedReadNotAMissingOne) {
    if (!std::getenv(childMarker)) {
        if (system("command -v dbus-run-session >/dev/null && "
                   "command -v gnome-keyring-daemon >/dev/null") != 0)
            GTEST_SKIP() << "needs dbus-run-session and gnome-keyring-daemon";
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<std::string> args = {
            "dbus-run-session",
            "--",
            "bash",
            "-c",
            "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets "
            "2>/dev/null)\"; \"$@\"; rc=$?; kill \"$GNOME_KEYRING_PID\" 2>/dev/null; exit $rc",
            "bash",
            self,
            "--gtest_filter=SecretStoreLibsecretLocked.*"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        // A home of its own gives a new keyring file, whatever password made the session's.
        // Without a display an unlock prompt fails at once instead of waiting on a screen.
        test::TempDir home;
        std::vector<std::string> environment = {std::string(childMarker) + "=1",
                                                "HOME=" + home.path().string(),
                                                "XDG_DATA_HOME=" + home.path().string()};
        for (char** at = environ; *at; ++at) {
            const std::string entry = *at;
            if (!entry.starts_with("DISPLAY=") && !entry.starts_with("HOME=") &&
                !entry.starts_with("XDG_DATA_HOME="))
                environment.push_back(entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(
            posix_spawnp(&pid, "dbus-run-session", nullptr, nullptr, argv.data(), envp.data()), 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return;
    }

    test::LogLines log;
    SecretStoreLibsecret store(uniqueService());
    ASSERT_EQ(outcome(store.set("refreshToken", "refresh-1")), "ok");
    ASSERT_EQ(outcome(store.get("refreshToken")), "refresh-1");
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, "default", SECRET_COLLECTION_NONE, nullptr, nullptr);
    ASSERT_NE(collection, nullptr);
    GList* objects = g_list_append(nullptr, collection);
    secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr);
    g_list_free(objects);
    ASSERT_TRUE(secret_collection_get_locked(collection));

    EXPECT_EQ(outcome(store.get("refreshToken")), "<locked>");
    const auto kept = store.set("refreshToken", "refresh-2");
    EXPECT_FALSE(kept);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Cloud: keychain: the refresh token could not be read (the collection "
                        "is locked)");
    EXPECT_TRUE(lines[1].starts_with("Cloud: keychain: the refresh token could not be kept ("))
        << lines[1];
    g_object_unref(collection);
    g_object_unref(service);
}

} // namespace
} // namespace talverin
