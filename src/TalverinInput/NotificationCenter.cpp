#include "TalverinInput/NotificationCenter.h"

#include "Runtime/MainQueue.h"

#include <map>
#include <utility>
#include <vector>

namespace talverin {

struct NotificationCenter::State {
    struct Observer {
        std::string name;
        Handler handler;
    };
    std::map<Token, Observer> observers;
    Token nextToken = 1;

    static void deliver(const std::shared_ptr<State>& state, const std::string& name) {
        std::vector<Token> tokens;
        for (const auto& [token, observer] : state->observers)
            if (observer.name == name)
                tokens.push_back(token);
        // An observer may remove itself or another one while the notice goes round.
        for (Token token : tokens) {
            auto it = state->observers.find(token);
            if (it == state->observers.end())
                continue;
            Handler handler = it->second.handler;
            handler();
        }
    }
};

NotificationCenter::NotificationCenter() : m_state(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(std::string_view name, Handler handler) {
    const Token token = m_state->nextToken++;
    m_state->observers.emplace(token, State::Observer{std::string(name), std::move(handler)});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    m_state->observers.erase(token);
}

void NotificationCenter::post(std::string_view name) {
    if (MainQueue::isCurrent()) {
        State::deliver(m_state, std::string(name));
        return;
    }
    MainQueue::post([weak = std::weak_ptr<State>(m_state), name = std::string(name)] {
        if (auto state = weak.lock())
            State::deliver(state, name);
    });
}

} // namespace talverin
