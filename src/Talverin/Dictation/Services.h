#pragma once

#include "TalverinCore/ClipEncoding.h"
#include "Talverin/Dictation/DictationTiming.h"
#include "TalverinCore/Ducking.h"
#include "TalverinCore/LanguageRecognizing.h"
#include "TalverinCore/PermissionWatching.h"
#include "TalverinCore/SoundPlaying.h"
#include "TalverinCore/ContextReading.h"
#include "TalverinCore/Dictating.h"
#include "TalverinCore/KeyTapping.h"
#include "TalverinCore/LiveDrafting.h"
#include "TalverinCore/MicCapturing.h"
#include "TalverinCore/PillPresenting.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinCore/TextInserting.h"
#include "TalverinCore/WireMicrophone.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The services a dictation drives, with the controller's timing. The application fills one
// bundle at launch with the real services and keeps it for the life of the process; tests
// fill it with fakes. Nothing in it is replaced once the controller has been made: settings
// changes reach the services through their own members.
//
// The correction watch, which only the shell drives, is held by the shell itself.
struct Services {
    std::shared_ptr<KeyTapping> keyTap;
    std::shared_ptr<MicCapturing> mic;
    std::shared_ptr<LiveDrafting> liveDraft;
    std::shared_ptr<ContextReading> context;
    std::shared_ptr<TextInserting> inserter;
    std::shared_ptr<Dictating> dictate;
    std::shared_ptr<PillPresenting> pill;
    std::shared_ptr<SoundPlaying> sounds;
    std::shared_ptr<Ducking> ducker;
    // Main thread, once per dictation: a new streaming encoder, or none when this run does not
    // use the cloud. Whether it gives encoders is fixed when the bundle is built.
    std::function<std::shared_ptr<ClipEncoding>()> makeEncoder = [] {
        return std::shared_ptr<ClipEncoding>();
    };
    // The visible frame of the screen that overlaps a window frame most; none when no screen
    // does.
    std::function<std::optional<Rect>(const Rect& windowFrame)> screenFrame = [](const Rect&) {
        return std::optional<Rect>();
    };
    // The end of the live draft text that the pill shows.
    std::function<std::string(const std::string& text)> liveTail = [](const std::string& text) {
        return text;
    };
    // The input devices at the moment of the call.
    std::function<std::vector<Wire::Microphone>()> microphones = [] {
        return std::vector<Wire::Microphone>();
    };
    std::shared_ptr<PermissionWatching> permissions;
    // Names the dominant language of a text, for the guard against English answers to
    // Russian speech.
    std::shared_ptr<LanguageRecognizing> languageRecognizer;
    // Whether secure event input is on. X11 has no such thing: password fields are known by
    // their accessibility role alone, so on Linux this is always off.
    std::function<bool()> secureInput = [] { return false; };
    DictationTiming timing;
};

} // namespace talverin
