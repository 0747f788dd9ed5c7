#include "library/audio_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <string>

#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

TEST(GetAudioFileInfo, ReadsHeadersAndSurvivesBadFiles) {
    test::TempDir dir;
    const std::string stereo = dir.file("stereo.wav");
    ASSERT_TRUE(test::WriteSoundFile(stereo, test::MakeSine(440, 0.5, 48000, 2), 2, 48000));
    const std::string aiff = dir.file("really_aiff.wav");
    ASSERT_TRUE(test::WriteSoundFile(aiff, test::MakeSine(440, 0.25, 44100, 3), 3, 44100,
                                     SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
    const std::string empty = dir.file("empty.wav");
    ASSERT_TRUE(test::WriteBytes(empty, ""));
    const std::string headerless = dir.file("headerless.wav");
    ASSERT_TRUE(test::WriteBytes(headerless, std::string(4096, '\x11')));
    const std::string dangling = dir.file("dangling.wav");
    std::error_code ec;
    std::filesystem::create_symlink(dir.file("gone.wav"), dangling, ec);
    ASSERT_FALSE(ec);

    struct Case {
        const char* name;
        std::string path;
        int channels;
        float duration;
    };
    const Case cases[] = {
        {"stereo WAVE", stereo, 2, 0.5f},
        {"AIFF named .wav is read by its content", aiff, 3, 0.25f},
        {"missing file", dir.file("missing.wav"), 0, 0.0f},
        {"zero-length file", empty, 0, 0.0f},
        {"headerless file", headerless, 0, 0.0f},
        {"dangling link", dangling, 0, 0.0f},
        {"empty path", "", 0, 0.0f},
        {"a folder", dir.path().string(), 0, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AudioFileInfo info = GetAudioFileInfo(c.path);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_FLOAT_EQ(info.duration, c.duration);
    }
}

TEST(GetAudioFileInfo, EntriesStayCachedEvenWhenUnreadable) {
    test::TempDir dir;
    const std::string path = dir.file("later.wav");
    EXPECT_EQ(GetAudioFileInfo(path).channels, 0);
    ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(440, 1.0, 48000, 1), 1, 48000));
    EXPECT_EQ(GetAudioFileInfo(path).channels, 0);  // not tried again

    const std::string other = dir.file("first.wav");
    ASSERT_TRUE(test::WriteSoundFile(other, test::MakeSine(440, 1.0, 48000, 1), 1, 48000));
    EXPECT_EQ(GetAudioFileInfo(other).channels, 1);
    std::filesystem::remove(other);
    EXPECT_EQ(GetAudioFileInfo(other).channels, 1);
}

TEST(OpenSoundFile, FailsCleanlyOnBadInput) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.file("junk.wav"), "RIFF\x04\0\0\0WAVEjunk"));
    SF_INFO info;
    EXPECT_FALSE(OpenSoundFile(dir.file("junk.wav"), info));
    EXPECT_FALSE(OpenSoundFile(dir.file("none.wav"), info));
    EXPECT_FALSE(OpenSoundFile("", info));
}

TEST(BitsPerSampleFromFormat, Subtypes) {
    struct Case {
        int format;
        int bits;
    };
    const Case cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_S8, 8},     {SF_FORMAT_AIFF | SF_FORMAT_PCM_U8, 8},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},    {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_32, 32},    {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 32},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 64},    {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24},
        {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 16},    {SF_FORMAT_WAV | SF_FORMAT_ULAW, 16},
        {SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 16}, {0, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(BitsPerSampleFromFormat(c.format), c.bits);
    }
}

}  // namespace
}  // namespace korvel
