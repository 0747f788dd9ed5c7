#include "library/audio_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <string>

#include "library/analysis.h"
#include "library/decoded_source_cache.h"
#include "library/library.h"
#include "library/waveform.h"
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

// A stream may leave its length out; libsndfile then reports the largest
// count there is, which sized buffers of exabytes and gave durations of
// 2e14 seconds. Every reader must measure such a file by reading it, and a
// path too long for libsndfile's own open must still be read.
TEST(OpenSoundFile, LengthUnknownStreamsAndLongPathsReadWithTheirTrueLength) {
    test::TempDir dir;
    constexpr int kRate = 44100;
    const std::vector<float> sine = test::MakeSine(440, 1.5, kRate, 2, 0.5);
    const std::string known = dir.file("known.flac");
    ASSERT_TRUE(test::WriteSoundFile(known, sine, 2, kRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    const std::string unknown = dir.file("unknown.flac");
    ASSERT_TRUE(test::WriteSoundFile(unknown, sine, 2, kRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    ASSERT_TRUE(test::SetFlacTotalSamples(unknown, 0));
    const std::string disguised = dir.file("disguised.wav");  // read by content, as a scan does
    std::filesystem::copy_file(unknown, disguised);
    // Six folders of 200 bytes: well past the 1,024 bytes libsndfile takes.
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i) deep /= std::string(200, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    const std::string longPath = (deep / "long.wav").string();
    ASSERT_GT(longPath.size(), 1200u);
    ASSERT_TRUE(test::WriteBytes(longPath, test::ReadBytes(dir.file("known.flac"))));

    SF_INFO header;
    ASSERT_TRUE(OpenSoundFileHeader(unknown, header));
    ASSERT_GT(header.frames, int64_t{1} << 40) << "the fixture must say length unknown";

    const struct {
        const char* name;
        std::string path;
    } cases[] = {{"length in the header", known},
                 {"length unknown", unknown},
                 {"length unknown, named .wav", disguised},
                 {"path of 1,200 bytes", longPath}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SF_INFO info;
        ASSERT_TRUE(OpenSoundFile(c.path, info));
        EXPECT_EQ(info.frames, 1.5 * kRate);

        EXPECT_NEAR(GetAudioFileInfo(c.path).duration, 1.5f, 1e-4f);

        FftState fft;
        LibraryFile record;
        ASSERT_TRUE(AnalyzeAudioFile(c.path, record, &fft, 0));
        EXPECT_NEAR(record.duration, 1.5f, 1e-4f);
        EXPECT_GT(record.rmsDb, -12.0f);

        WaveformOverview overview;
        ASSERT_TRUE(ComputeWaveformOverview(c.path, overview));
        ASSERT_EQ(overview.peaks.size(), 300u);
        EXPECT_NEAR(overview.duration, 1.5f, 1e-4f);
        EXPECT_NEAR(overview.peaks.front(), 0.5f, 0.01f);
        EXPECT_NEAR(overview.peaks.back(), 0.5f, 0.01f) << "the last bin is drawn too";

        DecodedSource region;
        ASSERT_TRUE(DecodeSourceRegion(c.path, 1.0f, 5.0f, kRate, true, 0, 0, region));
        EXPECT_EQ(region.frameCount, kRate / 2) << "the region ends where the file does";
        DecodedSource beyond;
        ASSERT_TRUE(DecodeSourceRegion(c.path, 2.0f, 0.5f, kRate, false, 0, 0, beyond));
        EXPECT_EQ(beyond.frameCount, kRate / 2) << "a start past the end reads from the beginning";
    }
}

TEST(MaxPlausibleFrames, SampleDataForUncompressedAndABoundForTheRest) {
    struct Case {
        const char* name;
        int format;
        int channels;
        uint64_t bytes;
        int64_t frames;
    };
    const Case cases[] = {
        {"16-bit stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 4000, 1000},
        {"24-bit mono", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, 300, 100},
        {"double, six channels", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, 6, 480, 10},
        {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 1000, 1000 * 65536},
        {"Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 10, 10 * 65536},
        {"huge compressed file", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, uint64_t{1} << 60, INT64_MAX},
        {"no channels", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 4000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SF_INFO info{};
        info.format = c.format;
        info.channels = c.channels;
        EXPECT_EQ(MaxPlausibleFrames(info, c.bytes), c.frames);
    }
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
