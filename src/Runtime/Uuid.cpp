#include "Runtime/Uuid.h"

#include <uuid/uuid.h>

namespace talverin {

std::string newUuid() {
    uuid_t bytes;
    uuid_generate_random(bytes);
    // uuid_unparse_lower writes 36 characters and a terminating NUL.
    char text[37];
    uuid_unparse_lower(bytes, text);
    return std::string(text, 36);
}

} // namespace talverin
