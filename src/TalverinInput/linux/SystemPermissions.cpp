#include "TalverinInput/linux/SystemPermissions.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"

#include <string>
#include <system_error>

namespace talverin {

using Wire::PermissionKind;
using Wire::PermissionState;

SystemPermissions::SystemPermissions(std::shared_ptr<AccessibilityTrust> accessibility,
                                     std::shared_ptr<MicrophoneAccess> microphone,
                                     std::filesystem::path speechModel)
    : m_accessibility(std::move(accessibility)), m_microphone(std::move(microphone)),
      m_speechModel(std::move(speechModel)) {}

std::filesystem::path SystemPermissions::defaultSpeechModel() {
    return "/usr/share/pocketsphinx/model/en-us";
}

namespace {

struct Sources {
    std::shared_ptr<AccessibilityTrust> accessibility;
    std::shared_ptr<MicrophoneAccess> microphone;
    std::filesystem::path speechModel;

    PermissionState state(PermissionKind kind) const {
        switch (kind) {
        case PermissionKind::microphone:
            return microphone->state();
        case PermissionKind::accessibility:
            // Never notDetermined: there is no one-time prompt to wait for.
            return accessibility->isGranted() ? PermissionState::granted : PermissionState::denied;
        case PermissionKind::speech: {
            std::error_code error;
            const bool installed =
                std::filesystem::is_directory(speechModel / "en-us", error) &&
                std::filesystem::is_regular_file(speechModel / "en-us.lm.bin", error) &&
                std::filesystem::is_regular_file(speechModel / "cmudict-en-us.dict", error);
            return installed ? PermissionState::granted : PermissionState::restricted;
        }
        }
        return PermissionState::notDetermined;
    }
};

} // namespace

PermissionState SystemPermissions::state(PermissionKind kind) {
    // The answer is the status last read; the read started here serves the next poll, so that
    // a poll never waits for the accessibility bus.
    if (kind == PermissionKind::accessibility)
        m_accessibility->refresh();
    return Sources{m_accessibility, m_microphone, m_speechModel}.state(kind);
}

Future<PermissionState> SystemPermissions::request(PermissionKind kind) {
    Promise<PermissionState> answer;
    // Asking may wait for the sound server or the accessibility bus: never on the main queue.
    // The work holds what it reads, so that it may outlive this reader.
    WorkerPool::async(
        [sources = Sources{m_accessibility, m_microphone, m_speechModel}, kind, answer] {
            switch (kind) {
            case PermissionKind::microphone:
                if (sources.microphone->state() == PermissionState::notDetermined) {
                    CoreLog::write("Permissions: asking for the microphone");
                    sources.microphone->check();
                }
                break;
            case PermissionKind::accessibility:
                if (!sources.accessibility->isGranted()) {
                    CoreLog::write("Permissions: asking for Accessibility");
                    sources.accessibility->requestEnable();
                }
                break;
            case PermissionKind::speech:
                // The model is installed or it is not: there is no one to ask.
                break;
            }
            const PermissionState now = sources.state(kind);
            CoreLog::write("Permissions: " + std::string(toString(kind)) + " " +
                           std::string(toString(now)));
            answer.resolve(now);
        });
    return answer.future();
}

} // namespace talverin
