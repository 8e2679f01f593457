#pragma once

#include "TalverinAudio/WavFile.h"
#include "TalverinAudio/linux/PulseTestSupport.h"
#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// Speech for the recogniser's tests: espeak-ng's voice at 16 kHz mono, as float samples.
// Tests that include this link TalverinAudio for its WAV reader (`// links: TalverinAudio`).
namespace talverin::test {

inline const std::filesystem::path& installedModelRoot() {
    static const std::filesystem::path root = "/usr/share/pocketsphinx/model";
    return root;
}

inline bool haveEnglishModel() {
    return SpeechRecognizersPocketsphinx::models(installedModelRoot()).count("en-US") == 1;
}

// Why a speech test cannot run here, or "" when it can.
inline std::string speechMissing() {
    if (!haveEnglishModel())
        return "no pocketsphinx en-US model";
    if (!haveProgram("espeak-ng") || !haveProgram("sox"))
        return "espeak-ng and sox make the speech";
    return "";
}

inline std::vector<float> wavSamples(const std::filesystem::path& file) {
    auto wav = WavFile::read(file);
    EXPECT_TRUE(wav.ok()) << file;
    if (!wav.ok())
        return {};
    EXPECT_EQ(wav->sampleRate, 16000u);
    EXPECT_EQ(wav->channels, 1u);
    return wav->samples;
}

// The words spoken, slowly enough for a grammar to get every one of them.
inline std::vector<float> speechSamples(const std::filesystem::path& folder,
                                        const std::string& words) {
    return wavSamples(makeSpeech(folder, words));
}

// Sentences of speech repeated to exactly `seconds` long.
inline std::vector<float> longSpeech(const std::filesystem::path& folder, double seconds) {
    auto once =
        makeSpeech(folder, "The quick brown fox jumps over the lazy dog. "
                           "We dictate a long letter to a friend, and then we read it again. "
                           "Every sentence ends with a short pause.");
    auto repeated = folder / "long.wav";
    std::string command = "sox '" + once.string() + "' '" + repeated.string() +
                          "' repeat 20 trim 0 " + std::to_string(seconds);
    EXPECT_EQ(shell(command + " >/dev/null 2>&1"), 0) << command;
    return wavSamples(repeated);
}

} // namespace talverin::test
