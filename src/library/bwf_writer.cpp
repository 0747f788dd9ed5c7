#include "library/bwf_writer.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dsp/sanitize.h"
#include "project/file_io.h"

// [SECTION] Limits and shared steps
// [SECTION] Writers
// [SECTION] Extensible finalisation

namespace korvel {
namespace {

// [SECTION] Limits and shared steps

constexpr int kChunkFrames = 8192;
constexpr int kBytesPerSample = 3;
constexpr uint64_t kMaxRiffSize = 0xFFFFFFFFull;
// "WAVE", "fmt " (at most 40 bytes), "fact", "bext" (602 bytes plus the
// coding-history line libsndfile appends, well under 200) and the data
// chunk's header, with room to spare.
constexpr uint64_t kHeaderReserve = 2048;

constexpr int kFormatWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;      // 0x010003
constexpr int kFormatWavex24 = SF_FORMAT_WAVEX | SF_FORMAT_PCM_24;  // 0x130003

void Diagnose(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int64_t HourLimit(int sampleRate) { return static_cast<int64_t>(sampleRate) * 3600; }

bool FitsRiff(int64_t frames, int channels) { return BwfRiffSizeBound(frames, channels) <= kMaxRiffSize; }

// The time of the first sample in samples since midnight of the timecode
// clock. A negative or non-finite start has no unsigned count: it becomes 0.
uint64_t TimeReference(int sampleRate, double startSeconds) {
    const double samples = static_cast<double>(sampleRate) * startSeconds;
    if (!(samples > 0.0)) return 0;
    if (samples >= 18446744073709551615.0) return UINT64_MAX;
    return static_cast<uint64_t>(samples);
}

bool SetBroadcastInfo(SNDFILE* file, int sampleRate, double startSeconds, const char* description) {
    SF_BROADCAST_INFO info;
    std::memset(&info, 0, sizeof info);
    const char* text = description ? description : "Korvel export";
    std::strncpy(info.description, text, sizeof info.description - 1);  // cut to 255
    std::strncpy(info.originator, "Korvel", sizeof info.originator - 1);
    const uint64_t reference = TimeReference(sampleRate, startSeconds);
    info.time_reference_low = static_cast<uint32_t>(reference & 0xFFFFFFFFu);
    info.time_reference_high = static_cast<uint32_t>(reference >> 32);
    info.version = 1;
    info.coding_history_size = 0;
    return sf_command(file, SFC_SET_BROADCAST_INFO, &info, sizeof info) == SF_TRUE;
}

// A file being written: libsndfile on a temporary beside the target, which
// becomes the target only once it is complete.
struct WavOutput {
    TempFile temp;
    SNDFILE* file = nullptr;
};

// libsndfile gets a descriptor of ours: its own open refuses paths of 1,024
// bytes and more.
bool OpenForWriting(WavOutput& out, const std::string& path, int sampleRate, int channels, int format) {
    out.temp = CreateTempFileBeside(path);
    if (out.temp.fd < 0) return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    out.file = sf_open_fd(out.temp.fd, SFM_WRITE, &info, SF_FALSE);
    if (out.file) return true;
    DiscardTempFile(out.temp);
    return false;
}

// Closes libsndfile (which writes the final header) and keeps the temporary
// for the finishing steps; false when the header could not be written.
bool CloseSoundFile(WavOutput& out) {
    const int status = sf_close(out.file);
    out.file = nullptr;
    return status == 0;
}

void Abandon(WavOutput& out) {
    if (out.file) sf_close(out.file);
    out.file = nullptr;
    DiscardTempFile(out.temp);
}

// Moves the complete temporary over the target; the earlier file at the
// target stays until then.
bool Commit(WavOutput& out, const std::string& path) {
    std::error_code ignored;
    return FinishTempFile(out.temp, path, ignored);
}

}  // namespace

uint64_t BwfRiffSizeBound(int64_t frames, int channels) {
    if (frames < 0 || channels < 1) return kHeaderReserve;
    const uint64_t data = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels) * kBytesPerSample;
    return kHeaderReserve + data + (data & 1u);
}

int64_t BwfMaxFrames(int channels) {
    if (channels < 1) return 0;
    const uint64_t frameBytes = static_cast<uint64_t>(channels) * kBytesPerSample;
    // One byte kept back for the pad after an odd-sized data chunk.
    return static_cast<int64_t>((kMaxRiffSize - kHeaderReserve - 1) / frameBytes);
}

// [SECTION] Writers

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int sampleRate, double startSeconds, const char* description) {
    if (frames <= 0) return false;
    if (frames > HourLimit(sampleRate)) {
        Diagnose("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) \u2014 %s",
                 static_cast<long long>(frames), static_cast<long long>(HourLimit(sampleRate)), path.c_str());
        return false;
    }
    if (!FitsRiff(frames, 2)) {
        Diagnose("[Export] WriteBWFStereo: numFrames %lld exceeds 4 GiB RIFF limit (%lld) \u2014 %s",
                 static_cast<long long>(frames), static_cast<long long>(BwfMaxFrames(2)), path.c_str());
        return false;
    }

    WavOutput out;
    if (!OpenForWriting(out, path, sampleRate, 2, kFormatWav24)) return false;
    SNDFILE* file = out.file;
    if (!SetBroadcastInfo(file, sampleRate, startSeconds, description))
        Diagnose("[Export] WriteBWFStereo: BEXT timecode failed \u2014 clip will land at 00:00:00:00 \u2014 %s",
                 path.c_str());

    std::vector<float> buffer(static_cast<size_t>(kChunkFrames) * 2);
    for (int64_t start = 0; start < frames; start += kChunkFrames) {
        const int n = static_cast<int>(std::min<int64_t>(kChunkFrames, frames - start));
        for (int i = 0; i < n; ++i) {
            buffer[2 * i] = left[start + i];
            buffer[2 * i + 1] = right[start + i];
        }
        SanitizeSamples(buffer.data(), 2 * n);
        if (sf_writef_float(file, buffer.data(), n) != n) {
            Abandon(out);
            Diagnose("[Export] WriteBWFStereo: short write at frame %lld/%lld \u2014 disk full? Deleting %s",
                     static_cast<long long>(start), static_cast<long long>(frames), path.c_str());
            return false;
        }
    }
    if (!CloseSoundFile(out)) {
        Abandon(out);
        Diagnose("[Export] WriteBWFStereo: short write at frame %lld/%lld \u2014 disk full? Deleting %s",
                 static_cast<long long>(frames), static_cast<long long>(frames), path.c_str());
        return false;
    }
    return Commit(out, path);
}

bool WriteBWFClipMono(const std::string& path, const float* samples, int frames, int sampleRate,
                      double startSeconds, const char* description) {
    if (frames <= 0) return false;
    if (frames > HourLimit(sampleRate)) {
        Diagnose("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%d) \u2014 %s", frames,
                 static_cast<int>(HourLimit(sampleRate)), path.c_str());
        return false;
    }
    if (!FitsRiff(frames, 1)) {
        Diagnose("[Export] WriteBWFClipMono: numFrames %d exceeds 4 GiB RIFF limit (%lld) \u2014 %s", frames,
                 static_cast<long long>(BwfMaxFrames(1)), path.c_str());
        return false;
    }

    WavOutput out;
    if (!OpenForWriting(out, path, sampleRate, 1, kFormatWav24)) return false;
    SNDFILE* file = out.file;
    if (!SetBroadcastInfo(file, sampleRate, startSeconds, description))
        Diagnose("[Export] WriteBWFClipMono: BEXT timecode failed \u2014 clip will land at 00:00:00:00 \u2014 %s",
                 path.c_str());

    std::vector<float> copy(samples, samples + frames);
    SanitizeSamples(copy.data(), frames);
    sf_count_t written = sf_writef_float(file, copy.data(), frames);
    // The header written at close counts too: without it the file is not whole.
    if (!CloseSoundFile(out) && written == frames) written = 0;
    if (written != frames) {
        Abandon(out);
        Diagnose("[Export] WriteBWFClipMono: short write (%lld/%d) \u2014 disk full? Deleting %s",
                 static_cast<long long>(written), frames, path.c_str());
        return false;
    }
    return Commit(out, path);
}

bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels,
                   int channelMask, int sampleRate, double startSeconds, const char* description,
                   bool ambisonic, bool extensible) {
    if (channels.empty() || channels.front().empty()) return false;
    const int channelCount = static_cast<int>(channels.size());
    const int64_t frames = static_cast<int64_t>(channels.front().size());
    if (frames > HourLimit(sampleRate)) {
        Diagnose("[Export] WriteBWFMulti: numFrames %lld exceeds 1hr limit \u2014 %s", static_cast<long long>(frames),
                 path.c_str());
        return false;
    }
    if (!FitsRiff(frames, channelCount)) {
        Diagnose("[Export] WriteBWFMulti: numFrames %lld exceeds 4 GiB RIFF limit (%d channels) \u2014 %s",
                 static_cast<long long>(frames), channelCount, path.c_str());
        return false;
    }

    const bool wavex = extensible && !ambisonic;
    WavOutput out;
    if (!OpenForWriting(out, path, sampleRate, channelCount, wavex ? kFormatWavex24 : kFormatWav24)) return false;
    SNDFILE* file = out.file;
    // A missing time reference is not worth losing a multichannel master over.
    SetBroadcastInfo(file, sampleRate, startSeconds, description);

    std::vector<float> buffer(static_cast<size_t>(kChunkFrames) * channelCount);
    for (int64_t start = 0; start < frames; start += kChunkFrames) {
        const int n = static_cast<int>(std::min<int64_t>(kChunkFrames, frames - start));
        for (int c = 0; c < channelCount; ++c) {
            const std::vector<float>& source = channels[c];
            // A channel shorter than the first one is padded with silence
            // rather than read past its end.
            for (int i = 0; i < n; ++i) {
                const size_t at = static_cast<size_t>(start + i);
                buffer[static_cast<size_t>(i) * channelCount + c] = at < source.size() ? source[at] : 0.0f;
            }
        }
        SanitizeSamples(buffer.data(), n * channelCount);
        if (sf_writef_float(file, buffer.data(), n) != n) {
            Abandon(out);
            Diagnose("[Export] WriteBWFMulti: short write \u2014 deleting %s", path.c_str());
            return false;
        }
    }
    if (!CloseSoundFile(out)) {
        Abandon(out);
        Diagnose("[Export] WriteBWFMulti: short write \u2014 deleting %s", path.c_str());
        return false;
    }

    // Finished while still a temporary: a file without its channel mask is
    // not what was asked for, so the earlier file stays and the caller
    // learns of the failure.
    if (wavex && !FinalizeWavChannelMask(out.temp.path, channelMask)) {
        Abandon(out);
        Diagnose("[Export] WriteBWFMulti: WAV finalize (mask/fact) failed \u2014 %s", path.c_str());
        return false;
    }
    return Commit(out, path);
}

// [SECTION] Extensible finalisation

namespace {

inline uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void WriteLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Copies `count` bytes from one stream to the other through `buffer`.
bool CopyBytes(FILE* in, FILE* out, uint64_t count, std::vector<unsigned char>& buffer) {
    while (count > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
        if (std::fread(buffer.data(), 1, n, in) != n) return false;
        if (std::fwrite(buffer.data(), 1, n, out) != n) return false;
        count -= n;
    }
    return true;
}

// Runs the chunk loop; false on any failure. Both files stay open.
bool RewriteChunks(FILE* in, FILE* out, uint32_t channelMask) {
    unsigned char header[12];
    if (std::fread(header, 1, 12, in) != 12) return false;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) return false;
    if (std::fwrite(header, 1, 12, out) != 12) return false;

    std::vector<unsigned char> buffer(64 * 1024);
    uint64_t riffSize = 4;  // "WAVE"
    for (;;) {
        unsigned char chunk[8];
        const size_t got = std::fread(chunk, 1, 8, in);
        if (got == 0 && std::feof(in)) break;
        if (got != 8) return false;
        const uint32_t size = ReadLe32(chunk + 4);
        const uint64_t padded = (static_cast<uint64_t>(size) + 1) & ~uint64_t{1};

        if (std::memcmp(chunk, "fact", 4) == 0) {
            if (std::fseek(in, static_cast<long>(padded), SEEK_CUR) != 0) return false;
            continue;
        }
        // A wrapped size would describe a different, broken file; checked
        // before the copy so that a huge chunk is not copied in vain.
        riffSize += 8 + padded;
        if (riffSize > kMaxRiffSize) return false;

        if (std::fwrite(chunk, 1, 8, out) != 8) return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 40) {
            // The mask is the word at byte 20 of the chunk's data.
            unsigned char head[24];
            if (std::fread(head, 1, 24, in) != 24) return false;
            WriteLe32(head + 20, channelMask);
            if (std::fwrite(head, 1, 24, out) != 24) return false;
            if (!CopyBytes(in, out, padded - 24, buffer)) return false;
        } else if (!CopyBytes(in, out, padded, buffer)) {
            return false;
        }
    }

    unsigned char size[4];
    WriteLe32(size, static_cast<uint32_t>(riffSize));
    if (std::fseek(out, 4, SEEK_SET) != 0) return false;
    return std::fwrite(size, 1, 4, out) == 4;
}

}  // namespace

bool FinalizeWavChannelMask(const std::string& path, int channelMask) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    TempFile temp = CreateTempFileBeside(path);
    FILE* out = temp.fd >= 0 ? fdopen(temp.fd, "wb") : nullptr;
    if (!out) {
        std::fclose(in);
        DiscardTempFile(temp);
        return false;
    }
    temp.fd = -1;  // the stream owns the descriptor now

    bool rewritten = RewriteChunks(in, out, static_cast<uint32_t>(channelMask));
    std::fclose(in);
    rewritten = std::fflush(out) == 0 && rewritten;
    if (rewritten) fsync(fileno(out));
    const bool closed = std::fclose(out) == 0;
    if (!rewritten || !closed) {
        DiscardTempFile(temp);
        return false;
    }
    return CommitTempFile(temp.path, path);
}

}  // namespace korvel
