#pragma once

#include "TalverinCore/TextInserting.h"
#include "fakes/AnswerScript.h"
#include "fakes/CallLog.h"

#include <string>
#include <vector>

namespace talverin::test {

// An inserter driven by the test. It always answers: nothing scripted is inserted() at once.
class TextInsertingFake final : public TextInserting {
public:
    struct Insertion {
        std::string text;
        DictationContext context;
        double time = 0;
    };

    CallLog log;
    AnswerScript<InsertOutcome> answers;

    void prepare() override;
    Future<InsertOutcome> insert(std::string text, DictationContext context) override;

    const std::vector<Insertion>& insertions() const { return m_insertions; }

private:
    std::vector<Insertion> m_insertions;
};

} // namespace talverin::test
