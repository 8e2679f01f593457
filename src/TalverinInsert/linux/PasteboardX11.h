#pragma once

#include "Runtime/Result.h"
#include "TalverinInsert/PasteboardAccessing.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;
union _XEvent;

namespace talverin {

struct ClipboardConnectionX11;

enum class PasteboardX11Error {
    noDisplay, // the X display could not be opened
    noXFixes,  // the server cannot report changes of the clipboard's owner
};

// The X11 CLIPBOARD on an X connection of its own, meant for the inserter's queue; calls from
// elsewhere (a copy from the settings page) wait for the one under way. The
// change count counts the owner changes the server reports (XFixes). Once we own the
// clipboard we answer its requests for as long as we hold it: while the queue is idle a
// watcher thread waits on the connection and hands what arrives to the queue (serveOn).
// Reads are bounded: each request by `requestTimeout` without progress, a whole snapshot by
// `readBound`.
class PasteboardX11 final : public PasteboardAccessing {
public:
    static constexpr double requestTimeout = 1.5;
    static constexpr double readBound = 6.0;
    // The hint a password manager puts beside its secret.
    static constexpr const char* passwordHint = "x-kde-passwordManagerHint";

    // `display` names the X display; empty means $DISPLAY.
    static Result<std::unique_ptr<PasteboardX11>, PasteboardX11Error>
    create(const std::string& display = {});
    // After the inserter that used it.
    ~PasteboardX11() override;
    PasteboardX11(const PasteboardX11&) = delete;
    PasteboardX11& operator=(const PasteboardX11&) = delete;

    std::int64_t changeCount() override;
    Result<PasteboardTypeLists, PasteboardError> itemTypes() override;
    Result<std::vector<ClipItem>, PasteboardError> readItems(std::int64_t maxBytes) override;
    Result<void, PasteboardError> write(const std::vector<ClipItem>& items) override;
    bool waitServed(std::int64_t changeCount, double timeout) override;
    bool handOff() override;
    void serveOn(std::function<bool(std::function<void()>)> post) override;

    // The inserter's queue: whether we hold the clipboard now.
    bool owns();

private:
    explicit PasteboardX11(std::unique_ptr<ClipboardConnectionX11> impl);
    void watch();

    std::unique_ptr<ClipboardConnectionX11> m_impl;
    // What a job handed to the queue reaches: nothing once the clipboard is gone.
    struct Life {
        std::mutex mutex;
        ClipboardConnectionX11* impl = nullptr;
    };
    std::shared_ptr<Life> m_life = std::make_shared<Life>();
    // The watcher: waits on the connection while the queue is idle.
    std::function<bool(std::function<void()>)> m_post;
    std::mutex m_mutex;
    std::condition_variable m_drained;
    bool m_draining = false;
    bool m_stopping = false;
    int m_stopFd = -1;
    std::thread m_watcher;
};

} // namespace talverin
