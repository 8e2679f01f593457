#pragma once

#include "TalverinInput/PermissionReading.h"
#include "TalverinInput/linux/AccessibilityTrust.h"
#include "TalverinInput/MicrophoneAccess.h"

#include <filesystem>
#include <memory>

namespace talverin {

// The three permissions as Linux has them: the microphone is the sound server accepting the
// program; Accessibility is the accessibility bus being on with XInput 2.1 at the X server;
// speech recognition is the on-device model being installed. Only Accessibility can be asked
// for, by switching the accessibility bus on; the other two are facts of the system.
class SystemPermissions final : public PermissionReading {
public:
    SystemPermissions(std::shared_ptr<AccessibilityTrust> accessibility,
                      std::shared_ptr<MicrophoneAccess> microphone,
                      std::filesystem::path speechModel = defaultSpeechModel());

    // The English model of the on-device recogniser.
    static std::filesystem::path defaultSpeechModel();

    Wire::PermissionState state(Wire::PermissionKind kind) override;
    // Answers on a worker; the caller's continuation resumes on the main queue.
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override;

private:
    std::shared_ptr<AccessibilityTrust> m_accessibility;
    std::shared_ptr<MicrophoneAccess> m_microphone;
    std::filesystem::path m_speechModel;
};

} // namespace talverin
