#pragma once

#include "TalverinCore/DictationContext.h"
#include "TalverinCore/HistoryItem.h"
#include "TalverinCore/MicError.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireTryDictationResult.h"

#include <functional>
#include <string>

namespace talverin {

// The record of one dictation that reached the inserter, whatever the inserter answered.
struct DictationRecord {
    HistoryItem item;                   // its history entry
    Wire::TryDictationResult tryResult; // the same dictation as the try-it step shows it
};

// What a dictation asks of the shell and tells it, as closures the shell sets before the
// controller starts. The controller and its completion call them on the main thread.
struct DictationShell {
    // The user's current settings; read at every key-down and when a dictation completes.
    std::function<Settings()> settings = [] { return Settings(); };
    // Whether the settings popover is open.
    std::function<bool()> popoverShown = [] { return false; };
    // Closes the popover and gives the focus back to the application that had it; true when
    // the popover was open.
    std::function<bool()> closePopover = [] { return false; };
    // Whether the application that should receive the text is frontmost again.
    std::function<bool()> targetReady = [] { return true; };
    // True when a session's pill is first shown, false when a session ends.
    std::function<void(bool active)> onActive = [](bool) {};
    // One record per answer of the inserter.
    std::function<void(const DictationRecord& dictated)> onDictated = [](const DictationRecord&) {};
    // An inserted text and its field, for the correction watch.
    std::function<void(const std::string& text, const DictationContext& context)>
        onInsertedForLearning = [](const std::string&, const DictationContext&) {};
    // The microphone did not start.
    std::function<void(const MicError& error)> onMicFailed = [](const MicError&) {};
    // The phase left idle (true) or came back to it (false).
    std::function<void(bool busy)> onBusy = [](bool) {};
    // The onboarding's key test is on screen: presses are its own.
    std::function<bool()> keyTestShowing = [] { return false; };
};

} // namespace talverin
