#include "TalverinInput/PermissionReadingNull.h"

namespace talverin {

Future<Wire::PermissionState> PermissionReadingNull::request(Wire::PermissionKind kind) {
    Promise<Wire::PermissionState> answer;
    answer.resolve(state(kind));
    return answer.future();
}

} // namespace talverin
