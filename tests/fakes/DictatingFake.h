#pragma once

#include "TalverinCore/Dictating.h"
#include "fakes/AnswerScript.h"
#include "fakes/CallLog.h"

#include <vector>

namespace talverin::test {

// A cloud client driven by the test. Without a backend (`configured` false) an unscripted
// dictate() answers notConfigured, as the real client does. With one, every dictate() must be
// scripted: an unscripted call fails the test, since no answer would be the right guess.
class DictatingFake final : public Dictating {
public:
    CallLog log;
    bool configured = true;
    AnswerScript<DictateReply> answers;

    bool isConfigured() const override { return configured; }
    void warmUp() override;
    Future<DictateReply> dictate(DictateRequest request) override;

    const std::vector<DictateRequest>& requests() const { return m_requests; }

private:
    std::vector<DictateRequest> m_requests;
};

} // namespace talverin::test
