#include <gtest/gtest.h>

#include "contracts/PushToTalkKey.h"
#include "contracts/Speech.h"
#include "strings/CurrentStrings.h"

using namespace zarn;

TEST(TranscriptionError, DescribesItselfInTheLanguageCurrentWhenRead) {
    auto error = TranscriptionError::localeUnsupported("fr-CA");
    auto unavailable = TranscriptionError::engineUnavailable("as given");
    CurrentStrings::set(Strings::english());
    EXPECT_EQ(error.errorDescription(), "Dictation isn't available for fr-CA on this Mac.");
    EXPECT_EQ(describeError(std::make_exception_ptr(error)), "Dictation isn't available for fr-CA on this Mac.");
    EXPECT_EQ(unavailable.errorDescription(), "as given");
    CurrentStrings::set(Strings::russian());
    EXPECT_EQ(error.errorDescription(), "Диктовка недоступна для fr-CA на этом Mac.");
    EXPECT_EQ(unavailable.errorDescription(), "as given");
    EXPECT_EQ(TranscriptionError::modelInstallFailed("disk full").errorDescription(),
              "Не удалось установить речевую модель: disk full");
    CurrentStrings::set(Strings::english());
    EXPECT_EQ(TranscriptionError::notRunning().errorDescription(), "The transcription engine isn't running.");
    EXPECT_STREQ(TranscriptionError::noAudioFormat().what(), "No compatible audio format available for the speech engine.");
}

// Raw values are what the settings file holds: exact, case included.
TEST(RawValues, AreExact) {
    EXPECT_EQ(speechEngineChoice::fromRawValue("nemotron"), SpeechEngineChoice::nemotron);
    EXPECT_FALSE(speechEngineChoice::fromRawValue("Apple"));
    EXPECT_EQ(pushToTalkKey::fromRawValue("rightCommand"), PushToTalkKey::rightCommand);
    EXPECT_FALSE(pushToTalkKey::fromRawValue("RightOption"));
    EXPECT_EQ(pushToTalkKey::displayName(PushToTalkKey::rightCommand), "Right ⌘");
}

TEST(AudioBuffer, LayoutsAndSampleConversion) {
    AudioBuffer stereo({48000, 2, SampleType::int16, true}, 4);
    EXPECT_EQ(stereo.planeCount(), 1u);
    EXPECT_EQ(stereo.stride(), 2u);
    EXPECT_EQ(stereo.floatData(0), nullptr);  // wrong sample type
    stereo.int16Data(0)[2] = -32768;          // frame 1, left
    stereo.int16Data(0)[3] = 16384;           // frame 1, right
    EXPECT_FLOAT_EQ(stereo.sampleAsFloat(0, 1), -1.0f);
    EXPECT_FLOAT_EQ(stereo.sampleAsFloat(1, 1), 0.5f);
    stereo.setFrameLength(10);
    EXPECT_EQ(stereo.frameLength(), 4u);

    AudioBuffer planar(AudioFormat::monoFloat(16000), 747);
    EXPECT_EQ(planar.planeCount(), 1u);
    planar.floatData(0)[746] = 0.25f;
    EXPECT_FLOAT_EQ(planar.sampleAsFloat(0, 746), 0.25f);
    EXPECT_THROW(AudioBuffer({16000, 0, SampleType::float32, false}, 1), std::invalid_argument);
}
