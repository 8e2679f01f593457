// Feeds arbitrary bytes to the reader of page messages, as the page host hands them over. It may
// refuse them with an error text, never throw or crash; a command it accepts must be written and
// read back as the same command.
#include "TalverinCore/WireCommand.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using talverin::Wire::Command;
using talverin::Wire::CommandError;

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    auto command = Command::parse(message);
    if (!command.ok()) {
        const CommandError error = command.error();
        check(!error.description().empty());
        check((error.kind() == CommandError::Kind::badMessage) == error.name().empty() ||
              error.kind() == CommandError::Kind::unknownCommand);
        return 0;
    }
    auto text = talverin::Wire::encoder().encode(*command);
    check(text.ok());
    auto again = Command::parse(*text);
    check(again.ok() && *again == *command);
    auto decoded = talverin::Wire::decoder().decode<Command>(*text);
    check(decoded.ok() && *decoded == *command);
    return 0;
}
