#pragma once

#include "TalverinInsert/SecureInput.h"

namespace talverin::test {

// Secure event input as the test sets it.
class SecureInputFake final : public SecureInput {
public:
    bool on = false;
    bool isSecureEventInputEnabled() override { return on; }
};

} // namespace talverin::test
