#include "Talverin/App/LiveServices.h"

#include "Talverin/App/TickPlayer.h"
#include "TalverinSpeech/LiveText.h"

namespace talverin {

LiveServices LiveServices::live(HoldKey holdKey, LiveParts::Consent consent,
                                std::function<void()> onDevicesChange, const LiveParts& parts) {
    auto services = std::make_shared<Services>();
    services->mic = parts.mic(std::move(onDevicesChange));
    auto cloud = parts.cloud(std::move(consent));
    services->dictate = cloud.dictate;
    services->keyTap = parts.keyTap(holdKey);
    services->liveDraft = parts.liveDraft();
    services->context = parts.context();
    services->inserter = parts.inserter();
    auto languages = parts.preferredLanguages ? parts.preferredLanguages()
                                              : std::vector<std::string>();
    services->pill = parts.pill(pillLangFrom(languages));
    auto sounds = parts.sounds();
    services->sounds = std::make_shared<TickPlayer>(sounds);
    // Every tick is on hand before the first dictation, so the first start tick is not late.
    sounds->preload();
    services->ducker = parts.ducker();
    services->permissions = parts.permissions();
    services->languageRecognizer = parts.languageRecognizer();

    // Whether this run uses the cloud is decided once: a backend configured later does not
    // give a dictation of this run an encoder.
    if (cloud.configured)
        services->makeEncoder = parts.encoder;
    else
        services->makeEncoder = [] { return std::shared_ptr<ClipEncoding>(); };
    if (parts.screenFrame)
        services->screenFrame = parts.screenFrame;
    services->liveTail = [](const std::string& text) {
        return LiveText::tail(text, tailWords, tailCharacters);
    };
    services->microphones = [inputs = parts.inputs] {
        std::vector<Wire::Microphone> list;
        for (const auto& device : inputs())
            list.push_back({device.uid, device.name});
        return list;
    };
    services->timing = DictationTiming();

    LiveServices live;
    live.services = std::move(services);
    live.cloudConfigured = cloud.configured;
    live.correctionWatch = parts.correctionWatch();
    live.copyText = parts.copyText;
    if (parts.pillState)
        live.pillState = [state = parts.pillState] {
            auto now = state();
            return MenuBarGlyph::stateOf(now ? &*now : nullptr);
        };
    return live;
}

} // namespace talverin
