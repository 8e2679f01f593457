#include "TalverinInsert/Inserter.h"

#include "Runtime/Milliseconds.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinInsert/AXCast.h"
#include "TalverinInsert/AXSession.h"
#include "TalverinInsert/ContextRules.h"
#include "TalverinInsert/TypingFallback.h"

#include <sstream>

namespace talverin {

namespace {

std::string utf16Length(const std::string& text) {
    return std::to_string(Unicode::toUtf16(text).size());
}

// A terminal runs a line as a command when its line break arrives: dictated line breaks are
// typed there as spaces, so that what the user said is never run before they read it.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

InsertTarget targetOfRole(const std::optional<std::string>& role,
                          const std::optional<std::string>& subrole) {
    if (ContextRules::isSecureField(role, subrole))
        return InsertTarget::secure;
    if (ContextRules::isTerminal(role))
        return InsertTarget::terminal;
    return InsertTarget::field;
}

} // namespace

Inserter::Inserter(Services services)
    : m_services(std::move(services)), m_keeper(m_services.pasteboard, m_services.source),
      m_typing(TypingFallback::defaultBundleIDs()), m_queue("org.talverin.insert") {
    m_gate->queue = &m_queue;
    m_services.pasteboard.serveOn([gate = m_gate](std::function<void()> job) {
        std::lock_guard lock(gate->mutex);
        if (!gate->queue)
            return false;
        gate->queue->async(std::move(job));
        return true;
    });
    probe = [this](const DictationContext& context) {
        InsertEnvironment env;
        env.trusted = m_services.accessibility.isProcessTrusted();
        env.secureInput = m_services.secureInput.isSecureEventInputEnabled();
        if (env.trusted && !env.secureInput) {
            std::optional<FocusCheck::Now> last;
            env.focus = verifyFocus(context, &last);
            env.target = targetOf(context, env.focus, last);
        }
        return env;
    };
}

Inserter::~Inserter() {
    std::lock_guard lock(m_gate->mutex);
    m_gate->queue = nullptr;
}

std::set<std::string> Inserter::typingBundleIDs() const {
    std::lock_guard lock(m_lock);
    return m_typing;
}

void Inserter::setTypingBundleIDs(std::set<std::string> ids) {
    std::lock_guard lock(m_lock);
    m_typing = std::move(ids);
}

void Inserter::prepare() {
    m_queue.async([this] {
        const std::int64_t generation = m_keeper.prepare();
        // A snapshot of the user's clipboard is never kept longer than ten minutes.
        m_queue.after(snapshotLifetime, [this, generation] { m_keeper.dropPrepared(generation); });
    });
}

void Inserter::quit() {
    m_queue.sync([this] {
        m_keeper.restorePending();
        m_services.pasteboard.handOff();
    });
}

Future<InsertOutcome> Inserter::insert(std::string text, DictationContext context) {
    if (const auto reason = InsertPlan::early(text, context)) {
        CoreLog::write("Inserter: refuse(" + std::string(toString(*reason)) +
                       ") len=" + utf16Length(text));
        return Future<InsertOutcome>::ready(InsertOutcome::refused(*reason));
    }
    Promise<InsertOutcome> promise;
    m_queue.async([this, promise, text = std::move(text), context = std::move(context)] {
        promise.resolve(run(text, context));
    });
    return promise.future();
}

InsertOutcome Inserter::run(const std::string& text, const DictationContext& context) {
    const double started = m_services.ticking.uptime();
    const InsertEnvironment env = probe(context);
    InsertAction action = decide(text, context, env);
    std::string extra;
    action = perform(action, env.target == InsertTarget::terminal ? oneLine(text) : text, extra);
    CoreLog::write("Inserter: " + action.word() + " len=" + utf16Length(text) +
                   " focus=" + std::string(toString(env.focus)) + extra +
                   " ms=" + std::to_string(wholeMs(m_services.ticking.uptime() - started)));
    return action.outcome();
}

InsertAction Inserter::decide(const std::string& text, const DictationContext& context,
                              const InsertEnvironment& env) {
    const bool typed = context.bundleID && typingBundleIDs().contains(*context.bundleID);
    const bool own = context.bundleID && *context.bundleID == m_keeper.source();
    if (const auto reason = InsertPlan::early(text, context))
        return InsertAction::refuse(*reason);
    if (env.secureInput)
        return InsertAction::copyOnly();
    if (!env.trusted)
        return InsertAction::refuse(RefuseReason::noAccessibility);
    if (env.focus == FocusVerdict::changed)
        return InsertAction::copyOnly();
    // A terminal takes typed keys, not the paste chord; it says it takes no text, which is
    // true of its value and not of its keyboard.
    if (env.target == InsertTarget::terminal && !own)
        return InsertAction::type();
    const Editability target = InsertPlan::target(context);
    if (target != Editability::editable &&
        (target == Editability::notEditable || (own && !context.elementToken)))
        return InsertAction::copyOnly();
    const InsertAction action = typed                            ? InsertAction::type()
                                : target == Editability::unknown ? InsertAction::pasteAndKeep()
                                                                 : InsertAction::paste();
    // X11 has no secure input: the keys go out only to an element known not to be a password
    // field. One that could not be read may be one, and gets the text on the clipboard only.
    if (env.target == InsertTarget::secure)
        return InsertAction::refuse(RefuseReason::secureField);
    if (env.target == InsertTarget::unknown)
        return InsertAction::copyOnly();
    return action;
}

InsertTarget Inserter::targetOf(const DictationContext& context, FocusVerdict verdict,
                                const std::optional<FocusCheck::Now>& last) {
    const AXElementBox* box =
        context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
    // The very element the context read, which was not a password field then.
    if (verdict == FocusVerdict::same && last && last->same && box && box->role)
        return ContextRules::isTerminal(box->role) ? InsertTarget::terminal : InsertTarget::field;
    if (last && last->hasElement && last->role)
        return targetOfRole(last->role, last->subrole);
    return readTarget();
}

// One reading of the focused element's kind, for a target the focus check could not name.
InsertTarget Inserter::readTarget() {
    AXSession session(m_services.accessibility, focusTimeoutMs, std::nullopt, m_services.ticking);
    const auto app = session.focusedApplication();
    if (!app) {
        // An application that is not on the accessibility bus (xterm, for one) is known only
        // by its window's class and its program.
        if (session.hung())
            return InsertTarget::unknown;
        const auto front = m_services.accessibility.frontmostApplication();
        return front && ContextRules::isTerminalProgram(*front) ? InsertTarget::terminal
                                                                : InsertTarget::unknown;
    }
    const AXElement element = session.focusedElement(app->element);
    if (!element)
        return InsertTarget::unknown;
    const auto values = session.copyMany(element, {"AXRole", "AXSubrole"});
    const auto role = AXCast::string(AXCast::find(values, "AXRole"));
    if (!role || session.hung())
        return InsertTarget::unknown;
    return targetOfRole(role, AXCast::string(AXCast::find(values, "AXSubrole")));
}

InsertAction Inserter::perform(InsertAction action, const std::string& text, std::string& extra) {
    switch (action.kind()) {
    case InsertAction::Kind::refuse:
        return action;
    case InsertAction::Kind::copyOnly:
        if (!m_keeper.writePlain(text))
            extra = " write=failed";
        return action;
    case InsertAction::Kind::pasteAndKeep:
    case InsertAction::Kind::paste: {
        const std::uint16_t key = m_services.pasteKey.pasteKey();
        // A clipboard that cannot be held in memory would be lost under the paste: the text is
        // typed instead and the clipboard never touched. A password manager's secret is meant
        // to go, so it is pasted over.
        if (const auto skip = m_keeper.checkUserClipboard();
            skip && *skip != ClipboardKeeper::Skip::concealed) {
            extra = " restore=skip(" + std::string(toString(*skip)) + ")";
            return typed(text, extra);
        }
        const auto ticket = m_keeper.writeForPaste(text);
        if (!ticket) {
            dropHeldLater();
            extra = " write=failed";
            return typed(text, extra);
        }
        // The paste never happened: the text stays on the clipboard for the user to paste,
        // and no restore takes it away. The user's own clipboard stays held, and the next
        // dictation's snapshot picks it up from there.
        if (!m_services.poster.postPaste(key))
            return failedPost(text, true, extra);
        extra = " key=" + std::to_string(key);
        // Nothing asked for the text: nothing was pasted, whatever the keys did. The same
        // holds as for a failed post, and the answer says so.
        if (!m_services.pasteboard.waitServed(ticket->changeCount, restoreLimit)) {
            dropHeldLater();
            extra += " served=no";
            return InsertAction::copyOnly();
        }
        if (ticket->restores) {
            scheduleRestore(*ticket);
            std::ostringstream delay;
            delay << restoreDelay;
            extra += " restore=" + delay.str() + "s";
        } else {
            extra += " restore=skip(" +
                     std::string(ticket->skip ? toString(*ticket->skip) : "unknown") + ")";
        }
        return action;
    }
    case InsertAction::Kind::type:
        return typed(text, extra);
    }
    return action;
}

// Types the text; when it could not be typed, nothing was, and the text is left on the
// clipboard instead.
InsertAction Inserter::typed(const std::string& text, std::string& extra) {
    const TypingResult result = m_services.poster.typeText(text);
    if (result)
        return InsertAction::type();
    return failedPost(text, false, extra,
                      result.kind == TypingResult::Kind::noKey ? "noKey" : "failed");
}

// Keys that could not be posted inserted nothing: the text is left on the clipboard instead,
// and the answer says so.
InsertAction Inserter::failedPost(const std::string& text, bool onClipboard, std::string& extra,
                                  std::string_view why) {
    if (!onClipboard && !m_keeper.writePlain(text) &&
        extra.find(" write=failed") == std::string::npos)
        extra += " write=failed";
    if (onClipboard)
        dropHeldLater();
    extra += " post=" + std::string(why);
    return InsertAction::copyOnly();
}

// The user's clipboard held under text we leave on the clipboard (or beside a failed write)
// waits for the next dictation, which puts it back, but no longer than a snapshot lives.
void Inserter::dropHeldLater() {
    if (const auto& pending = m_keeper.pending())
        m_queue.after(snapshotLifetime,
                      [this, ours = pending->ours] { m_keeper.dropPending(ours); });
    if (const auto& prepared = m_keeper.prepared())
        m_queue.after(snapshotLifetime, [this, generation = prepared->generation] {
            m_keeper.dropPrepared(generation);
        });
}

void Inserter::scheduleRestore(const ClipboardKeeper::Ticket& ticket) {
    // Called once the target has read the pasted text. It may read it again as it handles
    // the paste (the list of targets, then a text target, sometimes twice), so the user's
    // clipboard comes back a little later.
    m_queue.after(restoreDelay,
                  [this, changeCount = ticket.changeCount] { m_keeper.restore(changeCount); });
}

FocusVerdict Inserter::verifyFocus(const DictationContext& context,
                                   std::optional<FocusCheck::Now>* last) {
    const AXElementBox* box =
        context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
    if (!box)
        return FocusVerdict::unknown;
    const double started = m_services.ticking.uptime();
    for (;;) {
        const auto now = currentFocus(*box);
        if (last)
            *last = now;
        if (!now)
            return FocusVerdict::unknown;
        if (now->same)
            return FocusVerdict::same;
        if (now->pid == box->pid) {
            if (!now->hasElement)
                return FocusVerdict::unknown;
            // A field whose kind was never known, or a web page whose elements come and go
            // as it redraws, counts as the same while the role matches.
            if (box->editability == Editability::unknown)
                return FocusVerdict::same;
            if (box->webEngine && box->role && now->role && *box->role == *now->role)
                return FocusVerdict::same;
        }
        if (m_services.ticking.uptime() - started >= focusPatience)
            return FocusVerdict::changed;
        m_services.ticking.sleep(focusPollInterval);
    }
}

std::optional<FocusCheck::Now> Inserter::currentFocus(const AXElementBox& box) {
    AXSession session(m_services.accessibility, focusTimeoutMs, std::nullopt, m_services.ticking);
    const auto app = session.focusedApplication();
    if (!app)
        return std::nullopt;
    const AXElement element = session.focusedElement(app->element);
    if (!element) {
        if (session.hung())
            return std::nullopt;
        return FocusCheck::Now{app->pid, false, std::nullopt, std::nullopt, false};
    }
    if (box.element && element->sameElement(*box.element))
        return FocusCheck::Now{app->pid, true, box.role, std::nullopt, true};
    const auto values = session.copyMany(element, {"AXRole", "AXSubrole"});
    if (session.hung())
        return std::nullopt;
    return FocusCheck::Now{app->pid, true, AXCast::string(AXCast::find(values, "AXRole")),
                           AXCast::string(AXCast::find(values, "AXSubrole")), false};
}

} // namespace talverin
