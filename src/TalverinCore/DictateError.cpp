#include "TalverinCore/DictateError.h"

namespace talverin {

std::string dictateErrorText(const DictateError& error, NotConfiguredMeaning notConfigured) {
    switch (error.kind()) {
    case DictateError::Kind::rejected:
        return "rejected " + error.message();
    case DictateError::Kind::server:
        return "server " + std::to_string(error.status());
    case DictateError::Kind::notConfigured:
        return notConfigured == NotConfiguredMeaning::noConsent ? "no consent" : "not configured";
    case DictateError::Kind::offline:
        return "offline";
    case DictateError::Kind::timeout:
        return "timeout";
    case DictateError::Kind::limit:
        return "limit";
    case DictateError::Kind::editFailed:
        return "edit failed";
    }
    return "unknown";
}

} // namespace talverin
