#include "library/bwf_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/full_disk.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// [SECTION] An independent RIFF reader

uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
int32_t Sample24(const std::string& b, size_t at) {
    const uint32_t u = static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
                       static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                       static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16;
    return static_cast<int32_t>(u << 8) >> 8;
}

struct Chunk {
    std::string id;
    std::string data;
};

struct Riff {
    bool valid = false;
    uint32_t declaredSize = 0;
    size_t fileSize = 0;
    std::vector<Chunk> chunks;

    const Chunk* find(const std::string& id) const {
        for (const auto& c : chunks)
            if (c.id == id) return &c;
        return nullptr;
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const auto& c : chunks) out.push_back(c.id);
        return out;
    }
};

Riff WalkRiff(const std::string& path) {
    Riff riff;
    const std::string b = ReadBytes(path);
    riff.fileSize = b.size();
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return riff;
    riff.declaredSize = Le32(b, 4);
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const uint32_t size = Le32(b, at + 4);
        if (at + 8 + size > b.size()) return riff;
        riff.chunks.push_back({b.substr(at, 4), b.substr(at + 8, size)});
        at += 8 + size + (size & 1u);
    }
    riff.valid = at == b.size();
    return riff;
}

// The bext chunk's fields (EBU Tech 3285 offsets).
struct Bext {
    std::string description, originator, reference, date, time;
    uint64_t timeReference = 0;
    uint16_t version = 0;
    bool umidAndLoudnessZero = false;
};

Bext ParseBext(const std::string& d) {
    auto text = [&](size_t at, size_t n) { return std::string(d.c_str() + at, strnlen(d.c_str() + at, n)); };
    Bext b;
    b.description = text(0, 256);
    b.originator = text(256, 32);
    b.reference = text(288, 32);
    b.date = text(320, 10);
    b.time = text(330, 8);
    b.timeReference = Le32(d, 338) | static_cast<uint64_t>(Le32(d, 342)) << 32;
    b.version = Le16(d, 346);
    b.umidAndLoudnessZero = d.find_first_not_of('\0', 348) >= 602;
    return b;
}

struct FileInfo {
    SF_INFO info{};
    std::vector<float> samples;
    bool hasBroadcast = false;
    SF_BROADCAST_INFO broadcast{};
};

FileInfo ReadWithSndfile(const std::string& path) {
    FileInfo f;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &f.info);
    if (!file) return f;
    f.samples.resize(static_cast<size_t>(f.info.frames * f.info.channels));
    sf_readf_float(file, f.samples.data(), f.info.frames);
    f.hasBroadcast = sf_command(file, SFC_GET_BROADCAST_INFO, &f.broadcast, sizeof f.broadcast) == SF_TRUE;
    sf_close(file);
    return f;
}

std::vector<float> Ramp(int frames, float from, float to) {
    std::vector<float> v(frames);
    for (int i = 0; i < frames; ++i) v[i] = from + (to - from) * i / std::max(1, frames - 1);
    return v;
}

// [SECTION] Tests

class BwfWriterTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(BwfWriterTest, StereoReadsBackWithBextAndPlainFormat) {
    const std::string path = dir.file("mix.wav");
    const auto left = Ramp(20000, -0.9f, 0.9f);  // more than two write chunks
    const auto right = Ramp(20000, 0.5f, -0.5f);
    ASSERT_TRUE(WriteBWFStereo(path, left.data(), right.data(), 20000, 48000, 10.0, "Scene 4 mix"));

    const FileInfo f = ReadWithSndfile(path);
    EXPECT_EQ(f.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(f.info.channels, 2);
    EXPECT_EQ(f.info.samplerate, 48000);
    ASSERT_EQ(f.info.frames, 20000);
    for (int i = 0; i < 20000; ++i) {
        ASSERT_NEAR(f.samples[2 * i], left[i], 1e-6f) << i;
        ASSERT_NEAR(f.samples[2 * i + 1], right[i], 1e-6f) << i;
    }
    ASSERT_TRUE(f.hasBroadcast);
    EXPECT_STREQ(f.broadcast.description, "Scene 4 mix");
    EXPECT_STREQ(f.broadcast.originator, "Korvel");
    EXPECT_EQ(f.broadcast.time_reference_low, 480000u);
    EXPECT_EQ(f.broadcast.time_reference_high, 0u);

    const Riff riff = WalkRiff(path);
    ASSERT_TRUE(riff.valid);
    EXPECT_EQ(riff.declaredSize, riff.fileSize - 8);
    ASSERT_NE(riff.find("fmt "), nullptr);
    EXPECT_EQ(riff.find("fmt ")->data.size(), 16u);
    EXPECT_EQ(Le16(riff.find("fmt ")->data, 0), 1);  // WAVE_FORMAT_PCM
    EXPECT_EQ(Le16(riff.find("fmt ")->data, 14), 24);
    ASSERT_NE(riff.find("bext"), nullptr);
    const Bext bext = ParseBext(riff.find("bext")->data);
    EXPECT_EQ(bext.description, "Scene 4 mix");
    EXPECT_EQ(bext.originator, "Korvel");
    EXPECT_EQ(bext.reference, "");
    EXPECT_EQ(bext.date, "");
    EXPECT_EQ(bext.time, "");
    EXPECT_EQ(bext.timeReference, 480000u);
    // The record asks for version 1; libsndfile 1.2 always writes the
    // chunk as version 2, whose loudness fields stay zero.
    EXPECT_EQ(bext.version, 2);
    EXPECT_TRUE(bext.umidAndLoudnessZero);
    EXPECT_EQ(riff.find("data")->data.size(), 20000u * 2 * 3);
}

TEST_F(BwfWriterTest, BextDescriptionAndTimeReference) {
    struct Case {
        const char* name;
        const char* description;
        double start;
        int rate;
        std::string expectedDescription;
        uint64_t expectedReference;
    };
    const std::string longText(300, 'x');
    const Case cases[] = {
        {"no description", nullptr, 0.0, 48000, "Korvel export", 0},
        {"300 characters are cut to 255", longText.c_str(), 1.5, 44100, std::string(255, 'x'), 66150},
        {"reference above 32 bits", "late", 100000.25, 48000, "late", 4800012000ull},
        {"fraction of a sample is truncated", "t", 1.0 / 3.0, 48000, "t", 16000},
        {"negative start counts from 0", "n", -5.0, 48000, "n", 0},
    };
    const auto tone = Ramp(100, 0.0f, 0.5f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int writer = 0; writer < 3; ++writer) {
            SCOPED_TRACE(writer);
            const std::string path = dir.file(std::to_string(writer) + ".wav");
            bool ok = false;
            if (writer == 0) ok = WriteBWFStereo(path, tone.data(), tone.data(), 100, c.rate, c.start, c.description);
            if (writer == 1) ok = WriteBWFClipMono(path, tone.data(), 100, c.rate, c.start, c.description);
            if (writer == 2) ok = WriteBWFMulti(path, {tone, tone, tone}, 7, c.rate, c.start, c.description, false, true);
            ASSERT_TRUE(ok);
            const Riff riff = WalkRiff(path);
            ASSERT_TRUE(riff.valid);
            ASSERT_NE(riff.find("bext"), nullptr);
            const Bext bext = ParseBext(riff.find("bext")->data);
            EXPECT_EQ(bext.description, c.expectedDescription);
            EXPECT_EQ(bext.timeReference, c.expectedReference);
            EXPECT_GE(bext.version, 1);
        }
    }
}

TEST_F(BwfWriterTest, OutOfRangeSamplesAreSanitisedInACopy) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> input = {nan, inf, -inf, 1.5f, -2.0f, 0.25f, 1.0f, -1.0f};
    const int n = static_cast<int>(input.size());
    // Full scale as libsndfile converts it: 1.0 becomes 2^23 - 1, and -1.0
    // its negative.
    const std::vector<int32_t> expected = {0, 0, 0, 8388607, -8388607, 2097152, 8388607, -8388607};

    auto check = [&](const std::string& path, int channels, int channel) {
        const Riff riff = WalkRiff(path);
        ASSERT_TRUE(riff.valid);
        const std::string& data = riff.find("data")->data;
        ASSERT_EQ(data.size(), static_cast<size_t>(n * channels * 3));
        for (int i = 0; i < n; ++i) EXPECT_EQ(Sample24(data, 3 * (i * channels + channel)), expected[i]) << i;
    };

    auto left = input, right = input;
    ASSERT_TRUE(WriteBWFStereo(dir.file("s.wav"), left.data(), right.data(), n, 48000, 0.0, nullptr));
    check(dir.file("s.wav"), 2, 0);
    check(dir.file("s.wav"), 2, 1);
    ASSERT_TRUE(WriteBWFClipMono(dir.file("m.wav"), left.data(), n, 48000, 0.0, nullptr));
    check(dir.file("m.wav"), 1, 0);
    const std::vector<std::vector<float>> channels = {std::vector<float>(n, 0.0f), input};
    ASSERT_TRUE(WriteBWFMulti(dir.file("x.wav"), channels, 3, 48000, 0.0, nullptr, false, true));
    check(dir.file("x.wav"), 2, 1);

    // The callers' buffers are never modified.
    EXPECT_TRUE(std::isnan(left[0]));
    EXPECT_EQ(left[3], 1.5f);
    EXPECT_EQ(right[4], -2.0f);
}

TEST_F(BwfWriterTest, ExtensibleMultichannelGetsTheMaskAndLosesTheFactChunk) {
    const std::vector<std::vector<float>> six(6, Ramp(5001, -0.5f, 0.5f));  // odd data size
    const std::string path = dir.file("51.wav");
    ASSERT_TRUE(WriteBWFMulti(path, six, 63, 48000, 2.0, "5.1 stem", false, true));

    const Riff riff = WalkRiff(path);
    ASSERT_TRUE(riff.valid);
    EXPECT_EQ(riff.declaredSize, riff.fileSize - 8);
    EXPECT_EQ(riff.find("fact"), nullptr);
    EXPECT_EQ(riff.ids(), (std::vector<std::string>{"fmt ", "bext", "data"}));
    const std::string& fmt = riff.find("fmt ")->data;
    ASSERT_GE(fmt.size(), 40u);
    EXPECT_EQ(Le16(fmt, 0), 0xFFFE);  // WAVE_FORMAT_EXTENSIBLE
    EXPECT_EQ(Le16(fmt, 2), 6);
    EXPECT_EQ(Le32(fmt, 20), 63u);
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    const FileInfo f = ReadWithSndfile(path);
    EXPECT_EQ(f.info.format, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24);
    EXPECT_EQ(f.info.channels, 6);
    EXPECT_EQ(f.info.frames, 5001);
    ASSERT_TRUE(f.hasBroadcast);
    EXPECT_EQ(f.broadcast.time_reference_low, 96000u);
    for (int c = 0; c < 6; ++c) EXPECT_NEAR(f.samples[5000 * 6 + c], 0.5f, 1e-6f);
}

TEST_F(BwfWriterTest, AmbisonicOrNonExtensibleLayoutsArePlainWave) {
    struct Case {
        const char* name;
        int channels;
        bool ambisonic, extensible;
    };
    const Case cases[] = {
        {"AmbiX", 4, true, true},
        {"7.1.4", 12, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        ASSERT_TRUE(WriteBWFMulti(path, std::vector<std::vector<float>>(c.channels, Ramp(300, 0, 0.1f)), 0, 48000,
                                  0.0, nullptr, c.ambisonic, c.extensible));
        const Riff riff = WalkRiff(path);
        ASSERT_TRUE(riff.valid);
        EXPECT_EQ(riff.find("fact"), nullptr);
        EXPECT_EQ(riff.find("fmt ")->data.size(), 16u);
        EXPECT_EQ(Le16(riff.find("fmt ")->data, 0), 1);
        EXPECT_EQ(Le16(riff.find("fmt ")->data, 2), c.channels);
        const FileInfo f = ReadWithSndfile(path);
        EXPECT_EQ(f.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        EXPECT_EQ(f.info.frames, 300);
    }
}

TEST_F(BwfWriterTest, EmptyRequestsAndUncreatableFilesFailSilently) {
    const float one[1] = {0.5f};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteBWFStereo(dir.file("a.wav"), one, one, 0, 48000, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFClipMono(dir.file("b.wav"), one, -1, 48000, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFMulti(dir.file("c.wav"), {}, 3, 48000, 0.0, nullptr, false, true));
    EXPECT_FALSE(WriteBWFMulti(dir.file("d.wav"), {{}, {0.5f}}, 3, 48000, 0.0, nullptr, false, true));
    EXPECT_FALSE(WriteBWFStereo(dir.file("no/such/folder/e.wav"), one, one, 1, 48000, 0.0, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(BwfWriterTest, OneHourIsTheLongestFile) {
    // A low rate keeps an hour small: 3600 s at 10 Hz.
    constexpr int kRate = 10;
    constexpr int kHour = kRate * 3600;
    const std::vector<float> hour(kHour + 1, 0.25f);
    struct Case {
        const char* name;
        int writer;
        std::string message;
    };
    const Case cases[] = {
        {"stereo", 0, "[Export] WriteBWFStereo: numFrames 36001 exceeds 1hr limit (36000) \u2014 "},
        {"mono", 1, "[Export] WriteBWFClipMono: numFrames 36001 exceeds 1hr limit (36000) \u2014 "},
        {"multi", 2, "[Export] WriteBWFMulti: numFrames 36001 exceeds 1hr limit \u2014 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto write = [&](const std::string& path, int frames) {
            if (c.writer == 0) return WriteBWFStereo(path, hour.data(), hour.data(), frames, kRate, 0.0, nullptr);
            if (c.writer == 1) return WriteBWFClipMono(path, hour.data(), frames, kRate, 0.0, nullptr);
            const std::vector<float> v(hour.begin(), hour.begin() + frames);
            return WriteBWFMulti(path, {v, v, v, v, v, v}, 63, kRate, 0.0, nullptr, false, true);
        };
        const std::string exact = dir.file(std::string(c.name) + "_hour.wav");
        const std::string over = dir.file(std::string(c.name) + "_over.wav");
        EXPECT_TRUE(write(exact, kHour));
        EXPECT_EQ(ReadWithSndfile(exact).info.frames, kHour);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(write(over, kHour + 1));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message + over + "\n");
        EXPECT_FALSE(fs::exists(over));
    }
}

TEST_F(BwfWriterTest, RiffSizeBoundCoversEveryChunkLibsndfileWrites) {
    struct Case {
        const char* name;
        int channels, frames;
        bool extensible;
    };
    const Case cases[] = {
        {"mono, odd data", 1, 1001, false},
        {"stereo", 2, 4096, false},
        {"5.1 extensible", 6, 777, true},
        {"7.1.4", 12, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        const std::vector<float> v(c.frames, 0.1f);
        if (c.channels == 1) ASSERT_TRUE(WriteBWFClipMono(path, v.data(), c.frames, 192000, 0.0, nullptr));
        else if (c.channels == 2) ASSERT_TRUE(WriteBWFStereo(path, v.data(), v.data(), c.frames, 192000, 0.0, nullptr));
        else ASSERT_TRUE(WriteBWFMulti(path, std::vector<std::vector<float>>(c.channels, v), 63, 192000, 0.0, nullptr,
                                       false, c.extensible));
        const Riff riff = WalkRiff(path);
        ASSERT_TRUE(riff.valid);
        const uint64_t bound = BwfRiffSizeBound(c.frames, c.channels);
        EXPECT_LE(riff.declaredSize, bound);
        EXPECT_LT(bound - riff.declaredSize, 2048u);  // the reserve stays modest
    }

    // 7.1.4 at 48 kHz passes 4 GiB after about 41 minutes, inside the hour.
    EXPECT_GT(BwfMaxFrames(12), 48000ll * 60 * 41);
    EXPECT_LT(BwfMaxFrames(12), 48000ll * 60 * 42);
    EXPECT_LE(BwfRiffSizeBound(BwfMaxFrames(12), 12), 0xFFFFFFFFull);
    EXPECT_GT(BwfRiffSizeBound(BwfMaxFrames(12) + 1, 12), 0xFFFFFFFFull);
    EXPECT_LE(BwfRiffSizeBound(BwfMaxFrames(1), 1), 0xFFFFFFFFull);
    EXPECT_GT(BwfRiffSizeBound(BwfMaxFrames(1) + 1, 1), 0xFFFFFFFFull);
}

TEST_F(BwfWriterTest, FilesBeyondFourGibibytesAreRefusedLikeTheHourLimit) {
    // At 1 MHz an hour is 3.6 billion frames, so the size limit comes first.
    // The refusal comes before any sample is read: tiny buffers suffice.
    constexpr int kRate = 1000000;
    const std::vector<float> tiny(16, 0.0f);
    const std::string stereo = dir.file("stereo.wav");
    const std::string mono = dir.file("mono.wav");
    const std::string multi = dir.file("multi.wav");
    const int64_t stereoFrames = BwfMaxFrames(2) + 1;
    const int monoFrames = static_cast<int>(BwfMaxFrames(1) + 1);
    // Frames x channels is what counts: many channels, a short first vector,
    // and the other channels empty (they would be padded with silence).
    const int manyChannels = 65536;
    std::vector<std::vector<float>> channels(manyChannels);
    channels[0].assign(static_cast<size_t>(BwfMaxFrames(manyChannels) + 1), 0.0f);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteBWFStereo(stereo, tiny.data(), tiny.data(), stereoFrames, kRate, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFClipMono(mono, tiny.data(), monoFrames, kRate, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFMulti(multi, channels, 0, kRate, 0.0, nullptr, false, false));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[Export] WriteBWFStereo: numFrames " + std::to_string(stereoFrames) + " exceeds 4 GiB RIFF limit (" +
                  std::to_string(stereoFrames - 1) + ") \u2014 " + stereo + "\n" +
              "[Export] WriteBWFClipMono: numFrames " + std::to_string(monoFrames) + " exceeds 4 GiB RIFF limit (" +
                  std::to_string(monoFrames - 1) + ") \u2014 " + mono + "\n" +
              "[Export] WriteBWFMulti: numFrames " + std::to_string(channels[0].size()) +
                  " exceeds 4 GiB RIFF limit (65536 channels) \u2014 " + multi + "\n");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A write onto a full disk fails, says so once, and leaves the earlier
// export at the path as it was, with no partial file beside it.
TEST_F(BwfWriterTest, AFullDiskKeepsTheEarlierFileAndLeavesNothingPartial) {
    struct Case {
        const char* name;
        int writer;
        std::string messageStart, messageEnd;
    };
    const Case cases[] = {
        {"stereo", 0, "[Export] WriteBWFStereo: short write at frame 8192/48000 \u2014 disk full? Deleting ", ""},
        {"mono", 1, "[Export] WriteBWFClipMono: short write (", "/48000) \u2014 disk full? Deleting "},
        {"multi", 2, "[Export] WriteBWFMulti: short write \u2014 deleting ", ""},
    };
    const std::vector<float> second(48000, 0.5f);
    const std::vector<float> earlier(100, 0.25f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FullDisk disk(64 * 1024);
        const std::string path = disk.file(std::string(c.name) + ".wav");
        ASSERT_TRUE(WriteBWFClipMono(path, earlier.data(), 100, 48000, 0.0, nullptr));
        const std::string before = ReadBytes(path);
        const std::string log = dir.file(std::string(c.name) + ".log");
        const int failed = disk.Run([&] {
            if (!std::freopen(log.c_str(), "w", stdout)) return 2;
            bool ok = true;
            if (c.writer == 0) ok = WriteBWFStereo(path, second.data(), second.data(), 48000, 48000, 0.0, nullptr);
            if (c.writer == 1) ok = WriteBWFClipMono(path, second.data(), 48000, 48000, 0.0, nullptr);
            if (c.writer == 2) {
                const std::vector<std::vector<float>> three(3, second);
                ok = WriteBWFMulti(path, three, 7, 48000, 0.0, nullptr, false, true);
            }
            return ok ? 1 : 0;
        });
        EXPECT_EQ(failed, 0);
        EXPECT_EQ(ReadBytes(path), before) << "the earlier export is kept";
        EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 1)
            << "nothing partial beside it";
        const std::string out = ReadBytes(log);
        EXPECT_EQ(out.rfind(c.messageStart, 0), 0u) << out;
        EXPECT_NE(out.find(c.messageEnd + path + "\n"), std::string::npos) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
}

// The extensible finishing step copies the file once more; when the disk
// fills up there, the writer fails and the earlier file stays. A file-size
// limit cannot show this (each copy fits), so it needs the small tmpfs.
TEST_F(BwfWriterTest, AFailedFinishingStepFailsTheWrite) {
    test::FullDisk disk(64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    const std::string path = disk.file("surround.wav");
    ASSERT_TRUE(test::WriteBytes(path, "earlier"));
    const std::vector<std::vector<float>> six(6, std::vector<float>(2000, 0.5f));  // 36 KB: one copy fits
    const std::string log = dir.file("finalize.log");
    const int failed = disk.Run([&] {
        if (!std::freopen(log.c_str(), "w", stdout)) return 2;
        return WriteBWFMulti(path, six, 63, 48000, 0.0, nullptr, false, true) ? 1 : 0;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(ReadBytes(path), "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadBytes(log), "[Export] WriteBWFMulti: WAV finalize (mask/fact) failed \u2014 " + path + "\n");
}

// libsndfile's own open refuses paths of 1,024 bytes and more; the writers
// hand it a descriptor, so an export into a deep folder still works.
TEST_F(BwfWriterTest, PathsLongerThanLibsndfileTakesAreWritten) {
    fs::path deep = dir.path();
    for (int i = 0; i < 6; ++i) deep /= std::string(200, static_cast<char>('a' + i));
    fs::create_directories(deep);
    const std::string path = (deep / "mix.wav").string();
    ASSERT_GT(path.size(), 1200u);
    const std::vector<float> samples(480, 0.25f);
    EXPECT_TRUE(WriteBWFStereo(path, samples.data(), samples.data(), 480, 48000, 0.0, nullptr));
    EXPECT_TRUE(WriteBWFMulti(path, {samples, samples, samples, samples, samples, samples}, 63, 48000, 0.0,
                              nullptr, false, true));
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(open(path.c_str(), O_RDONLY), SFM_READ, &info, SF_TRUE);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 6);
    EXPECT_EQ(info.frames, 480);
    sf_close(file);
}

TEST_F(BwfWriterTest, FinaliserLeavesForeignFilesUntouched) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    auto le32 = [](uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    };
    const Case cases[] = {
        {"not RIFF", "RIFX" + le32(4) + "WAVE"},
        {"not WAVE", "RIFF" + le32(4) + "AVI "},
        {"too short", "RIFF"},
        {"chunk runs past the end", "RIFF" + le32(100) + "WAVE" + "data" + le32(64) + "abc"},
        {"truncated chunk header", "RIFF" + le32(8) + "WAVE" + "dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("foreign.wav");
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        EXPECT_FALSE(FinalizeWavChannelMask(path, 63));
        EXPECT_EQ(ReadBytes(path), c.bytes);
        EXPECT_FALSE(fs::exists(path + ".tmp"));
    }
    EXPECT_FALSE(FinalizeWavChannelMask(dir.file("missing.wav"), 63));
}

TEST_F(BwfWriterTest, FinaliserKeepsOtherChunksAndFixesTheSize) {
    auto le32 = [](uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    };
    std::string fmt(40, '\0');
    fmt[0] = '\xFE';
    fmt[1] = '\xFF';
    const std::string bytes = "RIFF" + le32(0) + "WAVE" + "fmt " + le32(40) + fmt + "fact" + le32(4) + "ffff" +
                              "LIST" + le32(3) + "abc" + '\0' + "data" + le32(6) + "123456";
    const std::string path = dir.file("crafted.wav");
    ASSERT_TRUE(WriteBytes(path, bytes));
    ASSERT_TRUE(FinalizeWavChannelMask(path, 0x2D));

    const Riff riff = WalkRiff(path);
    ASSERT_TRUE(riff.valid);
    EXPECT_EQ(riff.ids(), (std::vector<std::string>{"fmt ", "LIST", "data"}));
    EXPECT_EQ(riff.declaredSize, riff.fileSize - 8);
    EXPECT_EQ(Le32(riff.find("fmt ")->data, 20), 0x2Du);
    EXPECT_EQ(riff.find("LIST")->data, "abc");
    EXPECT_EQ(riff.find("data")->data, "123456");
}

TEST_F(BwfWriterTest, FinaliserRefusesAResultBeyondFourGibibytes) {
    // A sparse file whose chunks add up to more than a 32-bit RIFF size can
    // hold; the size is checked before anything is copied.
    auto le32 = [](uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    };
    const std::string head = "RIFF" + le32(0xFFFFFFFF) + "WAVE" + "JUNK" + le32(1024) + std::string(1024, '\0') +
                             "data" + le32(0xFFFFFF00u);
    const std::string path = dir.file("huge.wav");
    ASSERT_TRUE(WriteBytes(path, head));
    std::error_code error;
    fs::resize_file(path, head.size() + 0xFFFFFF00ull, error);
    if (error) GTEST_SKIP() << "no sparse files here: " << error.message();

    EXPECT_FALSE(FinalizeWavChannelMask(path, 63));
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    EXPECT_EQ(fs::file_size(path), head.size() + 0xFFFFFF00ull);
}

}  // namespace
}  // namespace korvel
