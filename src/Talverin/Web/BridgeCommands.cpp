// The Bridge's message handler: which page sent a message, what the command does, and what the
// page is answered.
#include "Talverin/Web/Bridge.h"

#include "Runtime/Bundle.h"
#include "Runtime/DefaultsStore.h"
#include "Runtime/MainQueue.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/Calendar.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinCore/SettingsCoding.h"
#include "TalverinCore/WireDate.h"
#include "TalverinCore/WireInsertReply.h"
#include "TalverinPill/PillLang.h"

#include <algorithm>
#include <utility>

namespace talverin {

namespace {

void answerNull(const Bridge::Reply& reply) {
    reply({nlohmann::json(nullptr), std::nullopt});
}

void answerError(const Bridge::Reply& reply, std::string error) {
    reply({std::nullopt, std::move(error)});
}

std::string chosenText(const HistoryItem& item, Wire::CopyWhich which) {
    return which == Wire::CopyWhich::raw ? item.raw : item.clean;
}

} // namespace

template <typename T> void Bridge::answer(const Reply& reply, const T& value) {
    auto object = Wire::object(value);
    if (!object) {
        answerError(reply, "encoding failed");
        return;
    }
    reply({std::move(*object), std::nullopt});
}

Bridge::ViewRole Bridge::roleOf(const WebPage* sender) const {
    for (const auto& [role, weak] : m_views) {
        if (weak.lock().get() == sender)
            return role;
    }
    return ViewRole::main;
}

void Bridge::receive(const WebPage* sender, const std::optional<std::string>& body, Reply reply) {
    const ViewRole role = roleOf(sender);
    if (!body) {
        answerError(reply, Wire::CommandError::badMessage().description());
        return;
    }
    auto command = Wire::Command::parse(*body);
    if (!command) {
        answerError(reply, command.error().description());
        return;
    }
    handle(*command, role, std::move(reply));
}

void Bridge::handle(const Wire::Command& command, ViewRole role, Reply reply) {
    using Kind = Wire::Command::Kind;
    switch (command.kind()) {
    case Kind::setSettings:
        // Any answer to the consent question, yes or no, means it was asked.
        if (command.patch().cloudConsent)
            m_defaults.set(std::string(cloudConsentAskedKey), true);
        updateSettings(command.patch());
        answer(reply, m_settings);
        return;
    case Kind::historyList: {
        const auto& args = command.listArgs();
        std::optional<Wire::Date> before;
        if (args.before)
            before = Wire::date(*args.before);
        answer(reply, m_history->list(args.query, args.limit, before));
        return;
    }
    case Kind::historyCopy: {
        auto item = m_history->item(command.id());
        if (!item) {
            answerError(reply, "no such item");
            return;
        }
        copyText(chosenText(*item, command.which()));
        answerNull(reply);
        return;
    }
    case Kind::historyDelete:
        if (m_history->deleteItem(command.id()))
            send(Wire::Event::historyRemoved(command.id()));
        answerNull(reply);
        return;
    case Kind::historyInsertAgain: {
        auto item = m_history->item(command.id());
        if (!item) {
            answerError(reply, "no such item");
            return;
        }
        // Answered when the insertion finishes; other messages are handled meanwhile.
        insertAgain(chosenText(*item, command.which())).then([reply](const InsertOutcome& outcome) {
            answer(reply, Wire::InsertReply(outcome));
        });
        return;
    }
    case Kind::historyAddWord:
        addWord(command.word());
        answer(reply, m_settings);
        return;
    case Kind::permissionsRequest:
        requestPermission(command.permission()).then([reply](const Wire::PermissionState& state) {
            answer(reply, state);
        });
        return;
    case Kind::permissionsOpenPane:
        openPane(command.permission());
        answerNull(reply);
        return;
    case Kind::micTest:
        onMicTest(command.on(), role);
        answerNull(reply);
        return;
    case Kind::keyCapture:
        answer(reply, onKeyCapture(command.on(), role));
        return;
    case Kind::getState: {
        auto object = Wire::object(state());
        if (!object) {
            answerError(reply, "encoding failed");
            return;
        }
        (*object)["trayHost"] = hasTrayHost();
        reply({std::move(*object), std::nullopt});
        return;
    }
    case Kind::historyClear:
        m_history->clear();
        send(Wire::Event::historyCleared());
        answerNull(reply);
        return;
    case Kind::permissionsStatus:
        answer(reply, permissions());
        return;
    case Kind::finishOnboarding:
        finishOnboarding();
        answer(reply, m_settings);
        // The shell closes the onboarding window here, so the page must have its answer first.
        onFinishOnboarding();
        return;
    case Kind::fnAction:
        answer(reply, fnAction());
        return;
    case Kind::openKeyboardSettings:
        openKeyboardSettings();
        answerNull(reply);
        return;
    }
}

void Bridge::addWord(const std::string& word) {
    const std::string trimmed = Unicode::trimWhitespaceAndNewlines(word);
    if (trimmed.empty() || Unicode::graphemeCount(trimmed) > maxAddedWordLength)
        return;
    const std::string lowered = Unicode::lower(trimmed);
    const auto& words = m_settings.words;
    if (std::any_of(words.begin(), words.end(),
                    [&](const std::string& known) { return Unicode::lower(known) == lowered; }))
        return;
    std::vector<std::string> extended = words;
    extended.push_back(trimmed);
    updateSettings({.words = std::move(extended)});
    // The settings drop a word beyond their cap; only a word that was kept has been learned.
    const auto& saved = m_settings.words;
    if (std::find(saved.begin(), saved.end(), trimmed) != saved.end())
        onLearnedWord(trimmed);
}

void Bridge::finishOnboarding() {
    if (cloudConfigured)
        m_defaults.set(std::string(cloudConsentAskedKey), true);
    Settings::Patch patch{.onboarded = true, .onboardingStep = 0};
    if (cloudConfigured)
        patch.cloudConsent = true;
    updateSettings(patch);
}

Wire::NativeState Bridge::state() const {
    Wire::NativeState state;
    state.settings = m_settings;
    state.permissions = permissions();
    state.version = Bundle::main().shortVersion().value_or("dev");
    state.lang = currentPillLang() == PillLang::ru ? "ru" : "en";
    state.cloudConfigured = cloudConfigured;
    state.microphones = microphones();
    state.wordsToday = m_history->wordsToday(Wire::Date(Clock::now()), Calendar::current());
    state.hasNotch = hasNotch();
    state.fnAction = fnAction();
    return state;
}

} // namespace talverin
