// Per-file analysis: descriptors with known answers on synthetic sounds,
// header facts, descriptions and the early-stop rules.
#include "library/analysis.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <vector>

#include "library/library.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "support/signals.h"

namespace korvel {
namespace {

using test::MakeSine;
using test::TempDir;
using test::WhiteNoise;
using test::WriteSoundFile;

constexpr int kRate = 48000;
// 43 whole periods per 2048-sample block, so every block has the same RMS.
constexpr double kBlockTone = 43.0 * kRate / 2048.0;

void ExpectDescriptorDefaults(const LibraryFile& f) {
    const LibraryFile fresh;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f.bandEnergies[i], fresh.bandEnergies[i]);
    EXPECT_EQ(f.brightness, fresh.brightness);
    EXPECT_EQ(f.hfRatio, fresh.hfRatio);
    EXPECT_EQ(f.spectralWeight, fresh.spectralWeight);
    EXPECT_EQ(f.crestDb, fresh.crestDb);
    EXPECT_EQ(f.peakPosition, fresh.peakPosition);
    EXPECT_EQ(f.zeroCrossingRate, fresh.zeroCrossingRate);
    EXPECT_EQ(f.peakToRmsDb, fresh.peakToRmsDb);
    EXPECT_EQ(f.rmsDb, fresh.rmsDb);
    EXPECT_EQ(f.temporalCentroid, fresh.temporalCentroid);
    EXPECT_EQ(f.spectralFlux, fresh.spectralFlux);
    EXPECT_EQ(f.pitchHz, fresh.pitchHz);
    EXPECT_EQ(f.midiNote, fresh.midiNote);
    EXPECT_EQ(f.pitchCents, fresh.pitchCents);
    EXPECT_EQ(f.pitchConfidence, fresh.pitchConfidence);
    EXPECT_EQ(f.spectralFlatness, fresh.spectralFlatness);
    EXPECT_EQ(f.harmonicity, fresh.harmonicity);
    EXPECT_EQ(f.attackPosition, fresh.attackPosition);
    EXPECT_EQ(f.attackTime, fresh.attackTime);
}

// [SECTION] Descriptors of synthetic signals

TEST(AnalysisDescriptors, FullScaleSineHasKnownLevelCrestNoteAndBrightness) {
    const std::vector<float> sine = MakeSine(1000.0, 2.0, kRate);
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(sine.data(), sine.size(), kRate, f, nullptr));
    EXPECT_NEAR(f.rmsDb, -3.0103, 0.01);
    EXPECT_NEAR(f.crestDb, 3.0103, 0.01);
    EXPECT_EQ(f.peakToRmsDb, f.crestDb);
    // 12·log2(1000/440) + 69 = 83.21: note 83, 21 cents sharp.
    EXPECT_EQ(f.midiNote, 83);
    EXPECT_NEAR(f.pitchCents, 21.3, 1.0);
    EXPECT_NEAR(f.pitchHz, 1000.0, 2.0);
    EXPECT_GT(f.pitchConfidence, 0.9);
    // A centroid of 1 kHz on the 100 Hz..8 kHz log scale.
    EXPECT_NEAR(f.brightness, (3.0 - 2.0) / (std::log10(8000.0) - 2.0), 0.01);
    // 1 kHz lies in the 750-2000 Hz band.
    EXPECT_FLOAT_EQ(f.bandEnergies[2], 1.0f);
    for (int b : {0, 1, 3, 4}) EXPECT_LT(f.bandEnergies[b], 0.05f) << "band " << b;
    EXPECT_NEAR(f.spectralWeight, 0.5, 0.02);
    EXPECT_LT(f.hfRatio, 0.05);
    // Two crossings per period: 4 · 2000 / 48000.
    EXPECT_NEAR(f.zeroCrossingRate, 4.0 * 2000.0 / kRate, 0.001);
    EXPECT_NEAR(f.temporalCentroid, 0.5, 0.01);
    EXPECT_LT(f.spectralFlatness, 0.1);
    EXPECT_GT(f.harmonicity, 0.9);
    EXPECT_LT(f.spectralFlux, 0.05);
}

// The spectral descriptors, recomputed here from their definitions with a
// plain discrete Fourier transform in double precision, on three frames of
// a signal whose partials and level change from frame to frame. Loose
// bounds would let a wrong bin range, a frame skipped or a mean taken the
// wrong way pass; these values must agree to rounding.
TEST(AnalysisDescriptors, SpectralDescriptorsMatchAnIndependentComputation) {
    constexpr int kSize = 2048;
    constexpr int kFrames = 3;
    constexpr float kSmallRate = 8000.0f;
    std::vector<float> x(kSize * kFrames);
    uint32_t seed = 12345;
    for (size_t n = 0; n < x.size(); ++n) {
        const double t = static_cast<double>(n) / kSmallRate;
        const double frame = static_cast<double>(n / kSize);
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.02;
        x[n] = static_cast<float>(0.05 * std::sin(2 * std::numbers::pi * 312.5 * t) +
                                  0.02 * (1 + frame) * std::sin(2 * std::numbers::pi * 625.0 * t) +
                                  0.01 * frame * std::sin(2 * std::numbers::pi * 2500.0 * t) + noise);
    }
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(x.data(), static_cast<int64_t>(x.size()), kSmallRate, f, nullptr));

    const double binHz = kSmallRate / 2048.0;
    const int hfBin = static_cast<int>(2000.0 / binHz);
    const int lowBin = static_cast<int>(50.0 / binHz);
    std::vector<double> previous;
    double fluxSum = 0, total = 0, high = 0, logMeanSum = 0, magMeanSum = 0, harmSum = 0;
    int fluxCount = 0, flatFrames = 0, harmCount = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        std::vector<double> mag(1024);
        for (int k = 0; k < 1024; ++k) {
            double re = 0, im = 0;
            for (int j = 0; j < kSize; ++j) {
                const double w = (1 - std::cos(2 * std::numbers::pi * j / kSize)) / 2;
                const double v = w * x[static_cast<size_t>(frame * kSize + j)];
                re += v * std::cos(2 * std::numbers::pi * k * j / kSize);
                im -= v * std::sin(2 * std::numbers::pi * k * j / kSize);
            }
            mag[static_cast<size_t>(k)] = std::hypot(re, im);
        }
        for (int k = 0; k < 1024; ++k) {
            total += mag[static_cast<size_t>(k)];
            if (k >= hfBin) high += mag[static_cast<size_t>(k)];
        }
        if (!previous.empty()) {
            double d = 0;
            for (int k = 0; k < 1024; ++k) d += std::pow(mag[static_cast<size_t>(k)] - previous[static_cast<size_t>(k)], 2);
            fluxSum += std::sqrt(d);
            ++fluxCount;
        }
        previous = mag;
        double logSum = 0, sum = 0;
        int m = 0;
        for (int k = 1; k < 1024; ++k) {
            if (mag[static_cast<size_t>(k)] <= 1e-12) continue;
            logSum += std::log(mag[static_cast<size_t>(k)]);
            sum += mag[static_cast<size_t>(k)];
            ++m;
        }
        logMeanSum += logSum / m;
        magMeanSum += sum / m;
        ++flatFrames;
        int peak = lowBin;
        for (int k = lowBin; k < 1024; ++k)
            if (mag[static_cast<size_t>(k)] > mag[static_cast<size_t>(peak)]) peak = k;
        double harm = 0, all = 0;
        for (int k = 1; k < 1024; ++k) all += mag[static_cast<size_t>(k)];
        for (int h = 1; h <= 8 && h * peak <= 1023; ++h)
            for (int d = -2; d <= 2; ++d)
                if (h * peak + d >= 1 && h * peak + d <= 1023) harm += mag[static_cast<size_t>(h * peak + d)];
        harmSum += harm / all;
        ++harmCount;
    }
    // The signal is built so that no value sits at a clamp.
    const double flux = fluxSum / fluxCount / 30.0;
    const double flatness = std::exp(logMeanSum / flatFrames) / (magMeanSum / flatFrames);
    const double harmonicity = harmSum / harmCount;
    ASSERT_GT(flux, 0.05);
    ASSERT_LT(flux, 0.95);
    EXPECT_NEAR(f.spectralFlux, flux, 1e-4 * flux);
    EXPECT_NEAR(f.spectralFlatness, flatness, 1e-3 * flatness);
    EXPECT_NEAR(f.harmonicity, harmonicity, 1e-4);
    EXPECT_NEAR(f.hfRatio, high / total, 1e-5);
}

TEST(AnalysisDescriptors, NoiseIsFlatAndInharmonic) {
    const std::vector<float> noise = WhiteNoise(kRate * 2, 0.5f, 7);
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(noise.data(), noise.size(), kRate, f, nullptr));
    EXPECT_GT(f.spectralFlatness, 0.4);
    EXPECT_LT(f.harmonicity, 0.1);
    EXPECT_GT(f.hfRatio, 0.5);
    EXPECT_GT(f.brightness, 0.8);
    EXPECT_GT(f.spectralFlux, 0.0);
}

TEST(AnalysisDescriptors, SilenceKeepsDefaultsAndStillSucceeds) {
    const std::vector<float> silence(kRate * 10, 0.0f);
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(silence.data(), silence.size(), kRate, f, nullptr));
    ExpectDescriptorDefaults(f);
}

TEST(AnalysisDescriptors, SpectralFramesNeedFullBlocks) {
    struct Case {
        const char* name;
        size_t frames;
        bool analysed;
    };
    const Case cases[] = {
        {"one sample short of a block", 2047, false},
        {"exactly one block", 2048, true},
        {"empty", 0, false},
    };
    const std::vector<float> tone = MakeSine(kBlockTone, 1.0, kRate, 1, 0.5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryFile f;
        EXPECT_EQ(AnalyzeMonoSignal(tone.data(), c.frames, kRate, f, nullptr), c.analysed);
        if (!c.analysed) {
            ExpectDescriptorDefaults(f);
            continue;
        }
        // One frame: no flux, no pitch block (the first block never is one),
        // and no attack (three envelope values are needed).
        EXPECT_EQ(f.spectralFlux, 0.0f);
        EXPECT_EQ(f.midiNote, -1);
        EXPECT_EQ(f.pitchConfidence, 0.0f);
        EXPECT_EQ(f.attackPosition, 0.0f);
        EXPECT_EQ(f.attackTime, 0.0f);
        EXPECT_NEAR(f.rmsDb, 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.01);
    }
}

TEST(AnalysisDescriptors, AttackFollowsTheBlockEnvelope) {
    // Blocks 0-4 silent, then a rise to the loudest block 9 and a lower tail.
    const float levels[] = {0, 0, 0, 0, 0, 0.3f, 0.5f, 0.7f, 0.9f, 1.0f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f};
    const int blocks = static_cast<int>(std::size(levels));
    std::vector<float> signal(static_cast<size_t>(blocks) * 2048);
    for (size_t n = 0; n < signal.size(); ++n)
        signal[n] = levels[n / 2048] * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * n / kRate));
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(signal.data(), signal.size(), kRate, f, nullptr));
    EXPECT_FLOAT_EQ(f.attackPosition, 5.0f / blocks);
    EXPECT_NEAR(f.attackTime, 4.0 * 2048 / kRate, 1e-5);
    // The pitch block is the first block above half the loudest so far.
    EXPECT_NEAR(f.pitchHz, 1000.0, 2.0);
    // The loudest sample sits in block 9, the energy's centre after the middle.
    EXPECT_GE(f.peakPosition, 9.0f / blocks);
    EXPECT_LT(f.peakPosition, 10.0f / blocks);
    EXPECT_GT(f.temporalCentroid, 0.5f);
}

TEST(AnalysisDescriptors, PeakPositionMarksTheFirstLoudestSample) {
    std::vector<float> signal(kRate, 0.0f);
    signal[12000] = -0.9f;
    signal[30000] = 0.9f;  // equal peak later: the first one wins
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(signal.data(), signal.size(), kRate, f, nullptr));
    EXPECT_FLOAT_EQ(f.peakPosition, 12000.0f / kRate);
}

TEST(AnalysisDescriptors, OnlyTheFirstThirtySecondsAreAnalysed) {
    // 30 s of silence, then a loud tone the analysis must not see.
    const int rate = 8000;
    std::vector<float> signal(static_cast<size_t>(rate) * 30, 0.0f);
    const std::vector<float> tone = MakeSine(500.0, 5.0, rate);
    signal.insert(signal.end(), tone.begin(), tone.end());
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(signal.data(), signal.size(), rate, f, nullptr));
    EXPECT_EQ(f.rmsDb, -100.0f);
}

TEST(AnalysisDescriptors, TopBandIsEmptyAtEightKilohertz) {
    const std::vector<float> noise = WhiteNoise(8000 * 2, 0.5f, 7);
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(noise.data(), noise.size(), 8000, f, nullptr));
    EXPECT_EQ(f.bandEnergies[4], 0.0f);
    EXPECT_LT(f.spectralWeight, 0.7f);
}

TEST(AnalysisDescriptors, NonFiniteSamplesDoNotReachTheDescriptors) {
    std::vector<float> signal = MakeSine(kBlockTone, 1.0, kRate, 1, 0.5);
    signal[100] = std::nanf("");
    signal[5000] = INFINITY;
    LibraryFile f;
    ASSERT_TRUE(AnalyzeMonoSignal(signal.data(), signal.size(), kRate, f, nullptr));
    for (float v : {f.rmsDb, f.crestDb, f.brightness, f.spectralFlatness, f.harmonicity,
                    f.spectralFlux, f.temporalCentroid, f.attackTime})
        EXPECT_TRUE(std::isfinite(v));
}

TEST(AnalysisDescriptors, ASharedTransformStateGivesTheSameAnswers) {
    const std::vector<float> noise = WhiteNoise(kRate, 0.3f, 11);
    LibraryFile alone, shared1, shared2;
    FftState state;
    ASSERT_TRUE(AnalyzeMonoSignal(noise.data(), noise.size(), kRate, alone, nullptr));
    ASSERT_TRUE(AnalyzeMonoSignal(noise.data(), noise.size(), kRate, shared1, &state));
    ASSERT_TRUE(AnalyzeMonoSignal(noise.data(), noise.size(), kRate, shared2, &state));
    EXPECT_TRUE(state.plan);
    EXPECT_EQ(state.window.size(), 2048u);
    for (const LibraryFile* f : {&shared1, &shared2}) {
        EXPECT_EQ(f->brightness, alone.brightness);
        EXPECT_EQ(f->spectralFlatness, alone.spectralFlatness);
        EXPECT_EQ(f->spectralFlux, alone.spectralFlux);
    }
}

TEST(FrequencyToMidi, RoundsAndLimitsNotes) {
    struct Case {
        const char* name;
        float hz;
        int note;
        float cents;
    };
    const Case cases[] = {
        {"A4", 440.0f, 69, 0.0f},
        {"zero", 0.0f, -1, 0.0f},
        {"negative", -5.0f, -1, 0.0f},
        {"quarter tone above A4 rounds away from zero", 440.0f * std::pow(2.0f, 0.5f / 12.0f), 70, -50.0f},
        // 12·log2(7/440) + 69 = -2.69: note -3 held at 0, cents from -3.
        {"below note 0", 7.0f, 0, 31.0f},
        {"above note 127", 20000.0f, 127, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int note = 99;
        float cents = 99;
        FrequencyToMidi(c.hz, note, cents);
        EXPECT_EQ(note, c.note);
        if (c.note != 127) {
            EXPECT_NEAR(cents, c.cents, 0.5f);
        }
    }
}

// [SECTION] Sound files

class AnalysisFile : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(AnalysisFile, HeaderFactsIdentityAndTime) {
    const std::string path = dir.file("Door Slam.wav");
    ASSERT_TRUE(WriteSoundFile(path, MakeSine(kBlockTone, 3.0, kRate, 2, 0.5), 2, kRate));
    const auto stamp = std::chrono::sys_seconds(std::chrono::seconds(1700000000));
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(stamp));

    LibraryFile f;
    ASSERT_TRUE(AnalyzeAudioFile(path, f, nullptr));
    EXPECT_EQ(f.path, path);
    EXPECT_EQ(f.name, "Door Slam");
    EXPECT_EQ(f.sampleRate, 48000.0f);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_FLOAT_EQ(f.duration, 3.0f);
    EXPECT_EQ(f.mtime, 1700000000);
    EXPECT_EQ(GetFileModifiedTime(path), 1700000000);
    EXPECT_EQ(f.fileId.size(), 16u);
    EXPECT_NE(f.fingerprint, 0u);
    EXPECT_EQ(f.size, std::filesystem::file_size(path));
    EXPECT_EQ(f.layoutClass, -1);  // a plain stereo WAVE carries no channel map
    EXPECT_NEAR(f.rmsDb, 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.01);
}

TEST_F(AnalysisFile, ShortFileGivesHeaderButNoDescriptors) {
    const std::string path = dir.file("short.wav");
    ASSERT_TRUE(WriteSoundFile(path, MakeSine(440, 2047.0 / kRate, kRate), 1, kRate));
    LibraryFile f;
    EXPECT_FALSE(AnalyzeAudioFile(path, f, nullptr));
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.sampleRate, 48000.0f);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_GT(f.duration, 0.0f);
    EXPECT_NE(f.mtime, 0);
    EXPECT_FALSE(f.fileId.empty());
    ExpectDescriptorDefaults(f);
}

TEST_F(AnalysisFile, LongFileKeepsItsFullDuration) {
    const int rate = 8000;
    std::vector<float> signal(static_cast<size_t>(rate) * 30, 0.0f);
    const std::vector<float> tone = MakeSine(500.0, 150.0, rate);
    signal.insert(signal.end(), tone.begin(), tone.end());
    const std::string path = dir.file("three minutes.wav");
    ASSERT_TRUE(WriteSoundFile(path, signal, 1, rate, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    LibraryFile f;
    ASSERT_TRUE(AnalyzeAudioFile(path, f, nullptr));
    EXPECT_FLOAT_EQ(f.duration, 180.0f);
    EXPECT_EQ(f.rmsDb, -100.0f);
    EXPECT_EQ(f.bitsPerSample, 16);
}

TEST_F(AnalysisFile, UnreadableFilesLeaveTheRecordUntouched) {
    ASSERT_TRUE(test::WriteBytes(dir.file("empty.wav"), ""));
    ASSERT_TRUE(test::WriteBytes(dir.file("text.wav"), "this is not a sound file at all"));
    std::filesystem::create_symlink(dir.file("gone.wav"), dir.path() / "dangling.wav");
    for (const char* name : {"empty.wav", "text.wav", "dangling.wav", "missing.wav"}) {
        SCOPED_TRACE(name);
        LibraryFile f;
        EXPECT_FALSE(AnalyzeAudioFile(dir.file(name), f, nullptr));
        EXPECT_TRUE(f.path.empty());
        EXPECT_EQ(f.channels, 0);
    }
}

TEST_F(AnalysisFile, AiffNamedWavIsReadByItsContent) {
    const std::string path = dir.file("actually aiff.wav");
    ASSERT_TRUE(WriteSoundFile(path, MakeSine(kBlockTone, 0.5, kRate), 1, kRate,
                               SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
    LibraryFile f;
    EXPECT_TRUE(AnalyzeAudioFile(path, f, nullptr));
    EXPECT_EQ(f.bitsPerSample, 16);
}

// Writes a short tone with an optional Broadcast WAVE description and tags.
bool WriteTaggedFile(const std::string& path, const char* bwfDescription, const char* title,
                     const char* comment, const char* artist) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    if (bwfDescription) {
        SF_BROADCAST_INFO bext{};
        std::snprintf(bext.description, sizeof bext.description, "%s", bwfDescription);
        sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    }
    if (title) sf_set_string(f, SF_STR_TITLE, title);
    if (comment) sf_set_string(f, SF_STR_COMMENT, comment);
    if (artist) sf_set_string(f, SF_STR_ARTIST, artist);
    const std::vector<float> tone = MakeSine(kBlockTone, 0.2, kRate, 1, 0.5);
    sf_writef_float(f, tone.data(), static_cast<sf_count_t>(tone.size()));
    return sf_close(f) == 0;
}

TEST_F(AnalysisFile, DescriptionJoinsBroadcastTextAndTags) {
    struct Case {
        const char* name;
        const char* bwf;
        const char* title;
        const char* comment;
        const char* artist;
        std::string expected;
    };
    const Case cases[] = {
        {"tags only, in title-comment-artist order", nullptr, "Rain", "heavy on tin roof", "Field Crew",
         "Rain heavy on tin roof Field Crew"},
        {"description only", "Door slam, oak", nullptr, nullptr, nullptr, "Door slam, oak"},
        {"description already holds the tags' first 20 bytes", "Thunder rolling far away, take 3",
         "Thunder rolling far away", nullptr, nullptr, "Thunder rolling far away, take 3"},
        {"description lacks the tags", "Wind gusts", "Exterior", nullptr, nullptr, "Wind gusts Exterior"},
        {"nothing", nullptr, nullptr, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        ASSERT_TRUE(WriteTaggedFile(path, c.bwf, c.title, c.comment, c.artist));
        LibraryFile f;
        AnalyzeAudioFile(path, f, nullptr);
        EXPECT_EQ(f.description, c.expected);
    }
}

TEST(GetFileModifiedTime, MissingFileGivesZero) {
    EXPECT_EQ(GetFileModifiedTime("/nonexistent/korvel/file.wav"), 0);
    EXPECT_EQ(GetFileModifiedTime(""), 0);
}

}  // namespace
}  // namespace korvel
