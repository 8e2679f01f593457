#pragma once

#include "TalverinCloud/Backend.h"
#include "TalverinCloud/Connectivity.h"
#include "TalverinCloud/DictateClient.h"

#include <memory>

namespace talverin {

class Bundle;

// The cloud module's Linux wiring, for the application's composition root and its self-test.
namespace CloudLinux {

// The backend configured from the bundle, its refresh token in the Secret Service under the
// application's identifier, its requests through libcurl.
std::shared_ptr<Backend> backendFromBundle(const Bundle& bundle, Backend::Consent consent);
// The process's one reachability monitor (GIO), started by the first dictate client that has
// a configured backend; it lives until the process ends.
std::shared_ptr<Connectivity> sharedConnectivity();
// The dictate client as the application builds it: the process's reachability monitor.
std::shared_ptr<DictateClient> makeDictateClient(std::shared_ptr<Backend> backend,
                                                 double budget = DictateClient::defaultBudget);

} // namespace CloudLinux

} // namespace talverin
