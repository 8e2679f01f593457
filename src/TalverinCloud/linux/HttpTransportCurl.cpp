#include "TalverinCloud/linux/HttpTransportCurl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <curl/curl.h>

namespace talverin {
namespace {

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using SteadyClock = std::chrono::steady_clock;

// An answer is a small JSON object; anything this large is not one.
constexpr std::size_t maxAnswerBytes = 8 * 1024 * 1024;

struct Transfer {
    std::uint64_t id = 0;
    HttpRequest request;
    Promise<HttpReply> promise;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<curl_slist, HeaderListDeleter> headers;
    std::size_t uploaded = 0;
    std::vector<std::uint8_t> received;
    SteadyClock::time_point added;
    // curl reports no time for the end of the upload, and for an upload its "start of
    // transfer" is the first byte sent; our own callbacks know both ends of the wait.
    std::optional<double> uploadEnd;
    std::optional<double> firstAnswerByte;
};

double since(const Transfer& transfer) {
    return std::chrono::duration<double>(SteadyClock::now() - transfer.added).count();
}

std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* data) {
    auto* transfer = static_cast<Transfer*>(data);
    const auto& body = transfer->request.body;
    const std::size_t n = std::min(size * count, body.size() - transfer->uploaded);
    if (n > 0)
        std::memcpy(buffer, body.data() + transfer->uploaded, n);
    transfer->uploaded += n;
    if (transfer->uploaded == body.size() && !transfer->uploadEnd)
        transfer->uploadEnd = since(*transfer);
    return n;
}

// curl sends a request again on a fresh connection when a kept-alive one it went over gave
// no answer, and asks for the body from the start. But a server may close the connection
// after it has read the whole request and acted on it: sending the body again would then
// dictate the clip twice, behind the client's back. So the body goes out again only while
// none of it has gone out; otherwise the transfer fails as a lost connection, and the client
// decides, as it counts its tries, whether to send once more.
int seekBody(void* data, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(data);
    if (origin != SEEK_SET || offset != 0 || transfer->uploaded > 0)
        return CURL_SEEKFUNC_FAIL;
    transfer->uploadEnd.reset();
    return CURL_SEEKFUNC_OK;
}

std::size_t readHeader(char*, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    if (!transfer->firstAnswerByte)
        transfer->firstAnswerByte = since(*transfer);
    return size * count;
}

std::size_t writeAnswer(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (transfer->received.size() + n > maxAnswerBytes)
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    transfer->received.insert(transfer->received.end(), data, data + n);
    return n;
}

bool isSafeHeaderText(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::optional<double> seconds(curl_off_t microseconds) {
    if (microseconds <= 0)
        return std::nullopt;
    return static_cast<double>(microseconds) / 1e6;
}

HttpMetrics collectMetrics(Transfer& transfer) {
    CURL* easy = transfer.easy.get();
    curl_off_t lookup = 0, connect = 0, secure = 0, pretransfer = 0;
    long connects = 0, version = 0;
    curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &secure);
    curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects);
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);

    HttpMetrics metrics;
    switch (version) {
    case CURL_HTTP_VERSION_1_1:
        metrics.protocol = "http/1.1";
        break;
    case CURL_HTTP_VERSION_2_0:
        metrics.protocol = "h2";
        break;
    case CURL_HTTP_VERSION_3:
        metrics.protocol = "h3";
        break;
    default:
        break;
    }
    // A transfer that opened no connection of its own but got as far as sending went over a
    // connection of an earlier one; it has no connect or TLS time.
    metrics.reused = connects == 0 && pretransfer > 0;
    if (!metrics.reused && connect > 0) {
        metrics.connectStart = static_cast<double>(lookup) / 1e6;
        metrics.connectEnd = seconds(secure > 0 ? secure : connect);
        if (secure > 0) {
            metrics.secureConnectionStart = seconds(connect);
            metrics.secureConnectionEnd = seconds(secure);
        }
    }
    metrics.requestStart = seconds(pretransfer);
    metrics.requestEnd = transfer.uploadEnd ? transfer.uploadEnd : metrics.requestStart;
    if (metrics.requestStart && metrics.requestEnd && *metrics.requestEnd < *metrics.requestStart)
        metrics.requestEnd = metrics.requestStart;
    metrics.responseStart = transfer.firstAnswerByte;
    return metrics;
}

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

struct HttpTransportCurl::Engine {
    explicit Engine(std::string agent) : userAgent(std::move(agent)) {}

    const std::string userAgent;

    std::mutex mutex;
    // Guarded by mutex.
    std::deque<std::unique_ptr<Transfer>> incoming;
    std::vector<std::uint64_t> cancelled;
    bool stopping = false;
    std::uint64_t nextId = 1;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::thread thread;

    // The network thread's own.
    std::map<std::uint64_t, std::unique_ptr<Transfer>> running;

    void submit(std::unique_ptr<Transfer> transfer) {
        std::lock_guard lock(mutex);
        if (!multi) {
            initialiseCurl();
            multi.reset(curl_multi_init());
            if (multi)
                thread = std::thread([this] { loop(); });
        }
        if (!multi || stopping) {
            transfer->promise.resolve(NetFailure{NetKind::other, "curl unavailable", {}});
            return;
        }
        incoming.push_back(std::move(transfer));
        curl_multi_wakeup(multi.get());
    }

    void cancel(std::uint64_t id) {
        std::lock_guard lock(mutex);
        if (!multi)
            return;
        cancelled.push_back(id);
        curl_multi_wakeup(multi.get());
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            if (multi)
                curl_multi_wakeup(multi.get());
        }
        if (thread.joinable())
            thread.join();
    }

    void loop();
    void begin(std::unique_ptr<Transfer> transfer);
    void finish(std::uint64_t id, CURLcode result);
    void drop(std::uint64_t id);
};

void HttpTransportCurl::Engine::loop() {
    CURLM* handle = multi.get();
    for (;;) {
        std::deque<std::unique_ptr<Transfer>> starting;
        std::vector<std::uint64_t> dropping;
        bool stop;
        {
            std::lock_guard lock(mutex);
            starting.swap(incoming);
            dropping.swap(cancelled);
            stop = stopping;
        }
        for (auto& transfer : starting)
            begin(std::move(transfer));
        for (auto id : dropping)
            drop(id);
        if (stop)
            break;
        int active = 0;
        curl_multi_perform(handle, &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(handle, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            // finish() removes the handle, which ends the life of `message`.
            const CURLcode result = message->data.result;
            if (transfer)
                finish(transfer->id, result);
        }
        curl_multi_poll(handle, nullptr, 0, 1000, nullptr);
    }
    std::vector<std::uint64_t> left;
    for (const auto& [id, transfer] : running)
        left.push_back(id);
    for (auto id : left)
        drop(id);
}

void HttpTransportCurl::Engine::begin(std::unique_ptr<Transfer> transfer) {
    const auto& request = transfer->request;
    for (const auto& [name, value] : request.headers) {
        // A line break in a header (a token from an answer, say) would let its text write
        // headers of its own.
        if (!isSafeHeaderText(name) || !isSafeHeaderText(value)) {
            transfer->promise.resolve(NetFailure{NetKind::other, "invalid header", {}});
            return;
        }
    }
    transfer->easy.reset(curl_easy_init());
    CURL* easy = transfer->easy.get();
    if (!easy) {
        transfer->promise.resolve(NetFailure{NetKind::other, "curl unavailable", {}});
        return;
    }
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers)
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    // curl asks large uploads to wait for "100 Continue"; the backend never sends one.
    headers = curl_slist_append(headers, "Expect:");
    transfer->headers.reset(headers);

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::llround(std::max(request.timeout, 0.001) * 1000)));
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeAnswer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    if (request.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, seekBody);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        if (request.method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    transfer->added = SteadyClock::now();
    if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
        transfer->promise.resolve(NetFailure{NetKind::other, "curl unavailable", {}});
        return;
    }
    const auto id = transfer->id;
    running[id] = std::move(transfer);
}

void HttpTransportCurl::Engine::finish(std::uint64_t id, CURLcode result) {
    auto found = running.find(id);
    if (found == running.end())
        return;
    auto transfer = std::move(found->second);
    running.erase(found);
    HttpMetrics metrics = collectMetrics(*transfer);
    long status = 0;
    curl_easy_getinfo(transfer->easy.get(), CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi.get(), transfer->easy.get());
    if (result == CURLE_OK && status > 0) {
        transfer->promise.resolve(
            HttpResponse{static_cast<int>(status), std::move(transfer->received), metrics});
        return;
    }
    NetFailure failure = classify(result == CURLE_OK ? CURLE_WEIRD_SERVER_REPLY : result);
    failure.metrics = metrics;
    transfer->promise.resolve(std::move(failure));
}

void HttpTransportCurl::Engine::drop(std::uint64_t id) {
    auto found = running.find(id);
    if (found == running.end())
        return;
    auto transfer = std::move(found->second);
    running.erase(found);
    HttpMetrics metrics = collectMetrics(*transfer);
    // Removing a transfer that is under way closes its connection: the server sees the
    // request abandoned at once, not when a timeout or a callback notices.
    curl_multi_remove_handle(multi.get(), transfer->easy.get());
    transfer->promise.resolve(NetFailure{NetKind::cancelled, {}, metrics});
}

HttpTransportCurl::HttpTransportCurl(std::string userAgent)
    : m_engine(std::make_shared<Engine>(std::move(userAgent))) {}

HttpTransportCurl::~HttpTransportCurl() {
    m_engine->stop();
}

Future<HttpReply> HttpTransportCurl::send(HttpRequest request, CancelSignal cancel) {
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    auto reply = transfer->promise.future();
    std::uint64_t id;
    {
        std::lock_guard lock(m_engine->mutex);
        id = m_engine->nextId++;
    }
    transfer->id = id;
    m_engine->submit(std::move(transfer));
    cancel.onCancel([engine = std::weak_ptr<Engine>(m_engine), id] {
        if (auto alive = engine.lock())
            alive->cancel(id);
    });
    return reply;
}

NetFailure HttpTransportCurl::classify(int curlCode) {
    switch (curlCode) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    // The connection died after the body had gone out, and it is not sent twice.
    case CURLE_SEND_FAIL_REWIND:
        return NetFailure{NetKind::offline, {}, {}};
    case CURLE_OPERATION_TIMEDOUT:
        return NetFailure{NetKind::timeout, {}, {}};
    case CURLE_ABORTED_BY_CALLBACK:
        return NetFailure{NetKind::cancelled, {}, {}};
    default:
        return NetFailure{NetKind::other, "curl " + std::to_string(curlCode), {}};
    }
}

} // namespace talverin
