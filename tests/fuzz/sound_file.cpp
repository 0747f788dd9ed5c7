// The audio-file layer on arbitrary file bytes: header queries, channel maps,
// the file facts the events tab shows, per-file analysis, region decoding,
// waveform overviews and the build's region choice with its peak, onset,
// envelope and transient analyses must never crash, hang or read out of
// bounds, whatever a damaged or hostile file claims.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/build_random.h"
#include "engine/source_region.h"
#include "library/analysis.h"
#include "library/channel_map.h"
#include "library/decoded_source_cache.h"
#include "library/file_facts.h"
#include "library/library.h"
#include "library/waveform.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = "/tmp/korvel-fuzz-sound-" + std::to_string(getpid()) + ".wav";
    return path;
}

bool WriteScratch(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    if (!file) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

// libsndfile's Ogg Vorbis reader leaves the stream information of a file it
// fails to open unfreed (its error path skips vorbis_info_clear). That leak
// is the library's; our handles are all closed.
extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_info_init\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteScratch(data, size)) return 0;
    const std::string& path = ScratchPath();

    (void)korvel::GetFileChannelMap(path);
    (void)korvel::ReadSoundFileFacts(path);

    static korvel::FftState fft;
    korvel::LibraryFile record;
    (void)korvel::AnalyzeAudioFile(path, record, &fft, 0);

    korvel::DecodedSource region;
    (void)korvel::DecodeSourceRegion(path, 0.0f, 2.0f, 48000, true, 0, 0, region);

    korvel::WaveformOverview overview;
    (void)korvel::ComputeWaveformOverview(path, overview);

    // The region routines cache by path: start from empty caches each time.
    korvel::ClearSourceRegionCaches();
    korvel::LibraryFile file;
    file.path = path;
    file.duration = record.duration > 0.0f ? record.duration : 1.0f;
    korvel::CurvePoints curve;
    curve.fill(0.5f);
    korvel::BuildRandom random{1};
    for (int kind = 0; kind <= 4; ++kind) {
        (void)korvel::ChooseSourceRegion(file, 0.25f, kind, 0.0f, random, &curve, 1.0f, 0.5f, nullptr, nullptr);
        (void)korvel::ChooseSourceRegion(file, 1e9f, kind, 0.0f, random, nullptr, 1.0f, 0.5f, nullptr, nullptr);
    }
    (void)korvel::FindOnsetTime(file, -5.0f, 1e30f);
    (void)korvel::AutoFadeInLength(file, 0.0f, 3.0f);
    (void)korvel::AutoFadeOutLength(file, 0.0f, 12.0f, 0.5f);
    return 0;
}
