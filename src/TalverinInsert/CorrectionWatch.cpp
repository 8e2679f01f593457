#include "TalverinInsert/CorrectionWatch.h"

#include "TalverinCore/WordCorrections.h"
#include "TalverinInsert/AXCast.h"
#include "TalverinInsert/AXElementBox.h"
#include "TalverinInsert/AXSession.h"
#include "Runtime/MainQueue.h"
#include "Runtime/Unicode.h"

#include <algorithm>
#include <map>
#include <utility>

#include <unicode/uchar.h>

namespace talverin {

struct CorrectionWatch::Sampler {
    AccessibilityBackend& backend;
    SecureInput& secureInput;
    std::function<bool()> isTrusted;
    Ticking ticking;
};

struct CorrectionWatch::Loop {
    std::uint64_t generation = 0;
    std::string inserted;
    Reader read;
    ChangeCallback onChange;
    std::optional<Replacement> latest;
    std::optional<Replacement> reported;
    // How many readings in a row have shown `latest`: a half-typed word shows up once.
    int agreeing = 0;
    std::optional<std::string> lastText;
    double start = 0;
    double lastChange = 0;
    double deadline = 0;
    std::optional<CorrectionSample> first;
};

namespace {

bool sameElement(const AXElement& a, const AXElement& b) {
    return a == b || (a && b && a->sameElement(*b));
}

// The user went on typing after the corrected text rather than editing inside it.
bool continuesAfter(const std::string& text, const std::string& lastText) {
    if (!text.starts_with(lastText) || text.size() == lastText.size())
        return false;
    const std::u16string rest = Unicode::toUtf16(std::string_view(text).substr(lastText.size()));
    const UChar32 c = rest.empty() ? 0 : rest.front();
    return u_isUWhiteSpace(c) || u_ispunct(c);
}

} // namespace

CorrectionWatch::CorrectionWatch(AccessibilityBackend& backend, SecureInput& secureInput,
                                 std::function<bool()> isTrusted, std::int32_t ownPid,
                                 Ticking ticking)
    : m_sampler(std::make_shared<Sampler>(
          Sampler{backend, secureInput, std::move(isTrusted), std::move(ticking)})),
      m_ownPid(ownPid) {}

CorrectionWatch::~CorrectionWatch() {
    m_alive.end();
}

void CorrectionWatch::watch(const std::string& text, const DictationContext& context,
                            ChangeCallback onChange) {
    const auto* box = context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
    const auto length = static_cast<std::int64_t>(Unicode::toUtf16(text).size());
    if (context.isSecure || !context.isEditable || !context.selection.empty() || !box ||
        box->pid == m_ownPid || !box->insertionOffset || length < 1 || length > maxInserted) {
        stop();
        return;
    }
    Reader read = [sampler = m_sampler, token = context.elementToken, start = *box->insertionOffset,
                   length](std::optional<std::int64_t> tail, SampleDone done) {
        WorkerPool::async([sampler, token, start, length, tail, done = std::move(done)] {
            auto reading = CorrectionWatch::sampleWith(*sampler, token, start, length, tail);
            MainQueue::post([done, reading = std::move(reading)] { done(reading); });
        });
    };
    track(text, std::move(read), std::move(onChange));
}

void CorrectionWatch::stop() {
    ++m_generation;
    if (m_flush) {
        auto flushing = std::move(m_flush);
        m_flush = nullptr;
        flushing();
    }
}

void CorrectionWatch::flush(Loop& loop) {
    // A word that has not stood unchanged for a while may be half typed ("Thu" on the way to
    // "Thursday"): a new press or a focus change must not make it a permanent rule. Taking a
    // report back needs no confirmation.
    if (loop.latest && (loop.agreeing < 2 || Clock::continuous() < loop.lastChange + settle))
        return;
    if (loop.latest == loop.reported)
        return;
    loop.reported = loop.latest;
    if (loop.onChange)
        loop.onChange(loop.latest);
}

void CorrectionWatch::track(const std::string& text, Reader read, ChangeCallback onChange) {
    stop();
    auto loop = std::make_shared<Loop>();
    loop->generation = m_generation;
    loop->inserted = text;
    loop->read = std::move(read);
    loop->onChange = std::move(onChange);
    loop->start = Clock::continuous();
    loop->lastChange = loop->start;
    loop->deadline = loop->start + lifetime;
    m_flush = [loop] { flush(*loop); };
    next(loop);
}

void CorrectionWatch::next(const std::shared_ptr<Loop>& loop) {
    if (Clock::continuous() >= loop->deadline) {
        end(loop);
        return;
    }
    MainQueue::after(loop->first ? interval : firstInterval, [this, alive = m_alive.token(), loop] {
        if (!alive || loop->generation != m_generation)
            return;
        std::optional<std::int64_t> tail;
        if (loop->first)
            tail = loop->first->tailLength;
        loop->read(tail, [this, alive, loop](Reading reading) {
            if (!alive || loop->generation != m_generation)
                return;
            step(loop, std::move(reading));
        });
    });
}

void CorrectionWatch::step(const std::shared_ptr<Loop>& loop, Reading reading) {
    Loop& l = *loop;
    const double now = Clock::continuous();
    const auto& s = reading.sample;
    if (!l.first) {
        if (s && s->text == l.inserted)
            l.first = s;
        else if (now - l.start >= firstWait)
            return end(loop);
        return next(loop);
    }
    // An application too slow to answer has not shown that the user left the field; ending
    // here would lose a correction seen once and not yet confirmed. The lifetime still bounds
    // a field that never answers again.
    if (reading.unanswered)
        return next(loop);
    if (!s || s->prefix != l.first->prefix || s->suffix != l.first->suffix)
        return end(loop);
    const auto r = WordCorrections::replacement(l.inserted, s->text);
    if (r && r == l.latest) {
        ++l.agreeing;
        l.lastText = s->text;
        if (now >= l.lastChange + settle)
            flush(l);
    } else if (r) {
        l.latest = r;
        l.agreeing = 1;
        l.lastChange = now;
        l.lastText = s->text;
    } else {
        if (l.lastText && continuesAfter(s->text, *l.lastText))
            return end(loop);
        if (!l.latest) {
            l.lastText.reset();
            if (now >= l.lastChange + settle)
                flush(l);
        } else {
            l.latest.reset();
            l.agreeing = 0;
            l.lastChange = now;
            l.lastText.reset();
        }
    }
    next(loop);
}

void CorrectionWatch::end(const std::shared_ptr<Loop>& loop) {
    if (loop->generation == m_generation)
        stop();
}

std::optional<CorrectionWatch::CorrectionSample>
CorrectionWatch::sample(const std::optional<ElementToken>& token, std::int64_t start,
                        std::int64_t insertedLength, std::optional<std::int64_t> tail) {
    return sampleWith(*m_sampler, token, start, insertedLength, tail).sample;
}

CorrectionWatch::Reading CorrectionWatch::sampleWith(Sampler& sampler,
                                                     const std::optional<ElementToken>& token,
                                                     std::int64_t start,
                                                     std::int64_t insertedLength,
                                                     std::optional<std::int64_t> tail) {
    const auto* box = token ? token->as<AXElementBox>() : nullptr;
    if (!sampler.isTrusted() || sampler.secureInput.isSecureEventInputEnabled() || !box)
        return {};
    AXSession session(sampler.backend, sampleTimeoutMs, sampleBudget, sampler.ticking);
    auto span = readSpan(sampler, session, *box, start, insertedLength, tail);
    const bool unanswered = !span && session.hung();
    return {std::move(span), unanswered};
}

std::optional<CorrectionWatch::CorrectionSample>
CorrectionWatch::readSpan(Sampler& sampler, AXSession& session, const AXElementBox& box,
                          std::int64_t start, std::int64_t insertedLength,
                          std::optional<std::int64_t> tail) {
    const auto app = session.focusedApplication();
    if (!app || app->pid != box.pid)
        return std::nullopt;
    const AXElement focused = session.focusedElement(app->element);
    if (!focused || !sameElement(focused, box.element))
        return std::nullopt;

    const auto values = session.copyMany(
        focused, {"AXRole", "AXSubrole", "AXNumberOfCharacters", "AXSelectedTextRange"});
    const auto role = AXCast::string(AXCast::find(values, "AXRole"));
    const auto subrole = AXCast::string(AXCast::find(values, "AXSubrole"));
    if (values.empty() || !role || *role == "AXSecureTextField" || subrole == "AXSecureTextField")
        return std::nullopt;
    const auto n = AXCast::number(AXCast::find(values, "AXNumberOfCharacters"));
    const auto selection = AXCast::range(AXCast::find(values, "AXSelectedTextRange"));
    if (!n || start > *n || !selection || selection->location < start)
        return std::nullopt;

    const std::int64_t span = tail ? *n - start - *tail : insertedLength;
    if (span < 1 || span > *n - start || span > maxSpan)
        return std::nullopt;
    const std::int64_t end = start + span;
    if (selection->location > end || selection->length < 0 ||
        selection->location + selection->length > end)
        return std::nullopt;
    if (!tail && (selection->location != end || selection->length != 0))
        return std::nullopt;

    const std::int64_t p = std::min(start, aroundLength);
    const std::int64_t q = std::min(*n - end, aroundLength);
    if (sampler.secureInput.isSecureEventInputEnabled())
        return std::nullopt;
    auto read =
        AXCast::string(session.copy(focused, "AXStringForRange", AXRange{start - p, p + span + q}));
    if (!read && start == 0 && span == *n)
        read = AXCast::string(session.copy(focused, "AXValue"));
    if (!read)
        return std::nullopt;
    const std::u16string units = Unicode::toUtf16(*read);
    if (static_cast<std::int64_t>(units.size()) != p + span + q)
        return std::nullopt;
    const auto sub = [&](std::int64_t from, std::int64_t count) {
        return Unicode::toUtf8(std::u16string_view(units).substr(from, count));
    };
    return CorrectionSample{sub(p, span), sub(0, p), sub(p + span, q), *n - end};
}

} // namespace talverin
