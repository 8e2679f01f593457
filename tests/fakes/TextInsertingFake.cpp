#include "fakes/TextInsertingFake.h"

#include "Runtime/MainQueue.h"

namespace talverin::test {

void TextInsertingFake::prepare() {
    log.record("prepare");
}

Future<InsertOutcome> TextInsertingFake::insert(std::string text, DictationContext context) {
    log.record("insert", text);
    m_insertions.push_back({text, std::move(context), Clock::uptime()});
    if (auto answer = answers.take())
        return answer->future();
    return Future<InsertOutcome>::ready(InsertOutcome::inserted());
}

} // namespace talverin::test
