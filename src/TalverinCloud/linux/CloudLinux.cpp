#include "TalverinCloud/linux/CloudLinux.h"

#include "Runtime/Bundle.h"
#include "TalverinCloud/linux/HttpTransportCurl.h"
#include "TalverinCloud/linux/PathMonitorGio.h"
#include "TalverinCloud/linux/SecretStoreLibsecret.h"

namespace talverin::CloudLinux {

std::shared_ptr<Backend> backendFromBundle(const Bundle& bundle, Backend::Consent consent) {
    return Backend::fromBundle(bundle, std::move(consent),
                               std::make_shared<SecretStoreLibsecret>(Backend::keychainService()),
                               std::make_shared<HttpTransportCurl>(Backend::userAgent()));
}

std::shared_ptr<Connectivity> sharedConnectivity() {
    // Never destroyed: its monitor thread must not be joined during static destruction.
    static auto* shared = new std::shared_ptr<Connectivity>(std::make_shared<Connectivity>(
        std::make_unique<PathMonitorGio>(Bundle::main().identifier() + ".connectivity")));
    return *shared;
}

std::shared_ptr<DictateClient> makeDictateClient(std::shared_ptr<Backend> backend, double budget) {
    return std::make_shared<DictateClient>(std::move(backend), budget, sharedConnectivity());
}

} // namespace talverin::CloudLinux
