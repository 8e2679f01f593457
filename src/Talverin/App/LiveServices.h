#pragma once

#include "Talverin/App/MenuBarGlyph.h"
#include "Talverin/Dictation/Services.h"
#include "TalverinAudio/InputDevice.h"
#include "TalverinAudio/Sounds.h"
#include "TalverinCore/HoldKey.h"
#include "TalverinInsert/CorrectionWatch.h"
#include "TalverinPill/PillLang.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The makers of the concrete services, one per member of the bundle. The composition root
// fills them with the real backends, or with a seam's Null backend where the desktop lacks
// the service; tests fill them with fakes. Each maker is called once, by live(), in the order
// that fixes the services' start-up side effects.
struct LiveParts {
    // Whether a clip may go to the cloud; any thread.
    using Consent = std::function<bool()>;
    struct Cloud {
        std::shared_ptr<Dictating> dictate;
        // Whether a backend was configured at build; read once, when the bundle is made.
        bool configured = false;
    };

    std::function<std::shared_ptr<MicCapturing>(std::function<void()> onDevicesChange)> mic;
    std::function<Cloud(Consent consent)> cloud;
    std::function<std::shared_ptr<KeyTapping>(HoldKey holdKey)> keyTap;
    std::function<std::shared_ptr<LiveDrafting>()> liveDraft;
    std::function<std::shared_ptr<ContextReading>()> context;
    std::function<std::shared_ptr<TextInserting>()> inserter;
    std::function<std::shared_ptr<PillPresenting>(PillLang lang)> pill;
    // What the pill shows now; none while there is no pill on screen to ask.
    std::function<std::optional<PillState>()> pillState;
    std::function<std::shared_ptr<Sounds>()> sounds;
    std::function<std::shared_ptr<Ducking>()> ducker;
    std::function<std::shared_ptr<PermissionWatching>()> permissions;
    std::function<std::shared_ptr<CorrectionWatch>()> correctionWatch;
    std::function<std::shared_ptr<LanguageRecognizing>()> languageRecognizer;
    // A new streaming encoder for one dictation.
    std::function<std::shared_ptr<ClipEncoding>()> encoder;
    // The input devices now, in the sound system's order.
    std::function<std::vector<InputDevice>()> inputs;
    std::function<std::optional<Rect>(const Rect& windowFrame)> screenFrame;
    // The user's preferred languages, most preferred first.
    std::function<std::vector<std::string>()> preferredLanguages;
    // Main thread: puts a history text on the desktop clipboard, the one the inserter holds.
    std::function<void(const std::string&)> copyText;
};

// The live service bundle and the correction watch that only the shell drives.
struct LiveServices {
    std::shared_ptr<Services> services;
    std::shared_ptr<CorrectionWatch> correctionWatch;
    // Whether a cloud backend was configured when the bundle was built.
    bool cloudConfigured = false;
    // The history page's copy; none leaves the Bridge's own.
    std::function<void(const std::string&)> copyText;
    // What the pill shows now, for the status item's glyph.
    std::function<PillState()> pillState = [] { return MenuBarGlyph::stateOf(nullptr); };

    // The live draft's tail shown in the pill.
    static constexpr int tailWords = 7;
    static constexpr int tailCharacters = 48;
    // How long the cloud may take for one dictation.
    static constexpr double cloudBudget = 7.5;

    // Main thread, once at launch. Builds the services in this order: the microphone (then its
    // device callback), the cloud client, the key tap, the live draft, the context reader, the
    // inserter, the pill, the ticks (loaded at once), the ducker, the permissions monitor
    // (not started), and last the correction watch.
    static LiveServices live(HoldKey holdKey, LiveParts::Consent consent,
                             std::function<void()> onDevicesChange, const LiveParts& parts);
};

} // namespace talverin
