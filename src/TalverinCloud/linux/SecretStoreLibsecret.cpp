#include "TalverinCloud/linux/SecretStoreLibsecret.h"

#include "TalverinCore/CoreLog.h"

#include <chrono>
#include <memory>

// The search that tells locked items from unlocked ones is in libsecret's "unstable" part,
// which has not changed since 0.7.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

namespace talverin {
namespace {

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct PathsFree {
    void operator()(gchar** paths) const { g_strfreev(paths); }
};

using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;
using ResultPtr = std::unique_ptr<GAsyncResult, ObjectUnref>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using PathsPtr = std::unique_ptr<gchar*, PathsFree>;

constexpr const char* itemLabel = "Talverin session";

// The generic schema that secret-tool uses too, so the item can be inspected by hand.
const SecretSchema& schema() {
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return value;
}

// One asynchronous libsecret call in flight. It lives on the heap: when the keyring never
// answers, even after cancellation, the call is abandoned and its callback may never run.
struct PendingCall {
    GAsyncResult* result = nullptr;
    bool done = false;
};

void onReady(GObject*, GAsyncResult* result, gpointer data) {
    auto* call = static_cast<PendingCall*>(data);
    call->result = G_ASYNC_RESULT(g_object_ref(result));
    call->done = true;
}

// A private main context made the thread's default for one store operation, with one
// deadline for all of its calls.
class KeyringSession {
public:
    explicit KeyringSession(double timeout)
        : m_context(g_main_context_new()), m_cancellable(g_cancellable_new()),
          m_deadline(std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(timeout))) {
        g_main_context_push_thread_default(m_context);
        // Wakes the loop now and then, so the deadline is noticed while nothing happens.
        m_ticker = g_timeout_source_new(50);
        g_source_set_callback(
            m_ticker, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
        g_source_attach(m_ticker, m_context);
    }
    ~KeyringSession() {
        g_source_destroy(m_ticker);
        g_source_unref(m_ticker);
        g_main_context_pop_thread_default(m_context);
        g_object_unref(m_cancellable);
        g_main_context_unref(m_context);
    }
    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    GCancellable* cancellable() const { return m_cancellable; }
    PendingCall* newCall() { return new PendingCall; }
    bool timedOut() const { return m_timedOut; }

    // The call's result once it completes; nothing when it had to be abandoned.
    ResultPtr wait(PendingCall* call) {
        using namespace std::chrono;
        std::optional<steady_clock::time_point> giveUp;
        while (!call->done) {
            const auto now = steady_clock::now();
            if (!m_timedOut && now >= m_deadline) {
                m_timedOut = true;
                g_cancellable_cancel(m_cancellable);
                giveUp = now + seconds(1);
            }
            if (giveUp && now >= *giveUp)
                return nullptr; // the call is leaked: its callback may still come
            g_main_context_iteration(m_context, TRUE);
        }
        ResultPtr result(call->result);
        delete call;
        return result;
    }

private:
    GMainContext* m_context;
    GCancellable* m_cancellable;
    GSource* m_ticker = nullptr;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_timedOut = false;
};

// The failure of a call that gave no result: its deadline passed, or the keyring's error.
Failure<SecretStoreError> callFailure(const KeyringSession& session, const GError* error) {
    if (session.timedOut())
        return fail(SecretStoreError::timedOut);
    return fail(SecretStoreError::failed, error && error->message ? error->message : "");
}

std::string failureText(const Failure<SecretStoreError>& failure) {
    switch (failure.error) {
    case SecretStoreError::timedOut:
        return "timed out";
    case SecretStoreError::locked:
        return "the collection is locked";
    default:
        return failure.message.empty() ? "unknown error" : failure.message;
    }
}

Failure<SecretStoreError> logged(const char* verb, Failure<SecretStoreError> failure) {
    CoreLog::write(std::string("Cloud: keychain: the refresh token could not be ") + verb + " (" +
                   failureText(failure) + ")");
    return failure;
}

} // namespace

SecretStoreLibsecret::SecretStoreLibsecret(std::string service, double timeout)
    : m_service(std::move(service)), m_timeout(timeout) {}

SecretStore::Read SecretStoreLibsecret::get(const std::string& account) {
    KeyringSession session(m_timeout);
    auto* serviceCall = session.newCall();
    secret_service_get(SECRET_SERVICE_NONE, session.cancellable(), onReady, serviceCall);
    auto serviceResult = session.wait(serviceCall);
    GError* rawError = nullptr;
    ServicePtr service(serviceResult ? secret_service_get_finish(serviceResult.get(), &rawError)
                                     : nullptr);
    ErrorPtr error(rawError);
    if (!service)
        return logged("read", callFailure(session, error.get()));

    // The search answers locked and unlocked items apart; a plain lookup would take a locked
    // item for "nothing stored", and the account would be replaced by a new one.
    AttributesPtr attributes(secret_attributes_build(&schema(), "service", m_service.c_str(),
                                                     "account", account.c_str(), nullptr));
    auto* searchCall = session.newCall();
    secret_service_search_for_dbus_paths(service.get(), &schema(), attributes.get(),
                                         session.cancellable(), onReady, searchCall);
    auto searchResult = session.wait(searchCall);
    gchar** unlockedRaw = nullptr;
    gchar** lockedRaw = nullptr;
    rawError = nullptr;
    const bool searched =
        searchResult && secret_service_search_for_dbus_paths_finish(
                            service.get(), searchResult.get(), &unlockedRaw, &lockedRaw, &rawError);
    PathsPtr unlocked(unlockedRaw);
    PathsPtr locked(lockedRaw);
    error.reset(rawError);
    if (!searched)
        return logged("read", callFailure(session, error.get()));
    if (!unlocked || !unlocked.get()[0]) {
        if (locked && locked.get()[0])
            return logged("read", fail(SecretStoreError::locked));
        return fail(SecretStoreError::absent);
    }

    auto* secretCall = session.newCall();
    secret_service_get_secret_for_dbus_path(service.get(), unlocked.get()[0], session.cancellable(),
                                            onReady, secretCall);
    auto secretResult = session.wait(secretCall);
    rawError = nullptr;
    ValuePtr value(secretResult ? secret_service_get_secret_for_dbus_path_finish(
                                      service.get(), secretResult.get(), &rawError)
                                : nullptr);
    error.reset(rawError);
    if (!value)
        return logged("read", callFailure(session, error.get()));
    // A secret that is not UTF-8 text is no token of ours; nothing to log about it.
    const gchar* text = secret_value_get_text(value.get());
    if (!text)
        return fail(SecretStoreError::failed, "the secret is not UTF-8 text");
    return std::string(text);
}

SecretStore::Write SecretStoreLibsecret::set(const std::string& account, const std::string& secret) {
    KeyringSession session(m_timeout);
    AttributesPtr attributes(secret_attributes_build(&schema(), "service", m_service.c_str(),
                                                     "account", account.c_str(), nullptr));
    auto* call = session.newCall();
    // Storing replaces an item with the same attributes, so there is never a second one.
    secret_password_storev(&schema(), attributes.get(), SECRET_COLLECTION_DEFAULT, itemLabel,
                           secret.c_str(), session.cancellable(), onReady, call);
    auto result = session.wait(call);
    GError* rawError = nullptr;
    const bool stored = result && secret_password_store_finish(result.get(), &rawError);
    ErrorPtr error(rawError);
    if (!stored)
        return logged("kept", callFailure(session, error.get()));
    return {};
}

SecretStore::Write SecretStoreLibsecret::remove(const std::string& account) {
    KeyringSession session(m_timeout);
    AttributesPtr attributes(secret_attributes_build(&schema(), "service", m_service.c_str(),
                                                     "account", account.c_str(), nullptr));
    auto* call = session.newCall();
    secret_password_clearv(&schema(), attributes.get(), session.cancellable(), onReady, call);
    auto result = session.wait(call);
    GError* rawError = nullptr;
    // FALSE without an error means there was nothing to remove.
    if (result)
        secret_password_clear_finish(result.get(), &rawError);
    ErrorPtr error(rawError);
    if (!result || error)
        return logged("removed", callFailure(session, error.get()));
    return {};
}

} // namespace talverin
