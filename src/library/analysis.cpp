// Per-file analysis.
//
// [SECTION] Transform state
// [SECTION] Descriptor accumulator
// [SECTION] Mono signals
// [SECTION] Sound files
// [SECTION] Small helpers
#include "library/analysis.h"

#include <kiss_fftr.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>

#if defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define KORVEL_ANALYSIS_SSE 1
#endif

#include "dsp/pitch.h"
#include "library/audio_file.h"
#include "library/channel_layout.h"
#include "library/channel_map.h"
#include "library/file_facts.h"
#include "library/file_id.h"
#include "library/library.h"
#include "project/app_state.h"

namespace korvel {

namespace {

constexpr int kBins = kAnalysisFrameSize / 2;  // the Nyquist bin is not used

float Clamp01(double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); }

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Transform state
// ---------------------------------------------------------------------------

void FftPlanDeleter::operator()(kiss_fftr_state* plan) const { kiss_fftr_free(plan); }

namespace {

using FftPlan = std::unique_ptr<kiss_fftr_state, FftPlanDeleter>;

FftPlan MakeFftPlan() { return FftPlan(kiss_fftr_alloc(kAnalysisFrameSize, 0, nullptr, nullptr)); }

void FillHannWindow(std::vector<float>& window) {
    window.resize(kAnalysisFrameSize);
    for (int j = 0; j < kAnalysisFrameSize; ++j)
        window[j] = static_cast<float>(
            (1.0 - std::cos(2.0 * std::numbers::pi * j / kAnalysisFrameSize)) / 2.0);
}

// The plan and window one call works with: the caller's when it brought a
// usable state, else private ones that live for this call only.
struct TransformScope {
    FftState own;
    FftState* used = nullptr;

    bool Prepare(FftState* given) {
        if (given) {
            if (!given->plan) given->plan = MakeFftPlan();
            if (given->plan) used = given;
        }
        if (!used) {
            own.plan = MakeFftPlan();
            if (!own.plan) return false;
            used = &own;
        }
        if (used->window.size() != static_cast<size_t>(kAnalysisFrameSize))
            FillHannWindow(used->window);
        return true;
    }
};

// ---------------------------------------------------------------------------
// [SECTION] Descriptor accumulator
// ---------------------------------------------------------------------------

// The working values of one analysis: fed one mono block of at most 2048
// samples at a time, then turned into the record's descriptors.
class DescriptorAccumulator {
public:
    DescriptorAccumulator(float sampleRate, FftState& fft) : rate_(sampleRate), fft_(fft) {
        binHz_ = sampleRate * (1.0f / 2048.0f);
        const float edges[6] = {20.f, 150.f, 750.f, 2000.f, 6000.f, 16000.f};
        for (int i = 0; i < 6; ++i) edge_[i] = BinOf(edges[i]);
        hfBin_ = edge_[3];
        lowBin_ = BinOf(50.f);
    }

    // `block` holds 2048 values: `count` samples followed by zeros.
    void AddBlock(const float* block, int count) {
        // The sums keep their order sample by sample, so every file gives
        // the bits it always gave; the running values live in locals and the
        // sign changes are counted without a branch, which a noisy signal
        // would mispredict at every other sample.
        double blockEnergy = 0;
        double M = M_;
        float peak = peak_;
        int64_t peakIndex = peakIndex_;
        int64_t crossings = crossings_;
        bool prevNonNegative = prevNonNegative_;
        const int64_t first = n_;
        for (int j = 0; j < count; ++j) {
            const float x = block[j];
            const int64_t n = first + j;
            const double x2 = static_cast<double>(x) * x;
            blockEnergy += x2;
            M += static_cast<double>(n) * x2;
            const float ax = std::fabs(x);
            if (ax > peak) {
                peak = ax;
                peakIndex = n;
            }
            const bool nonNegative = x >= 0.0f;
            crossings += static_cast<int64_t>((n > 0) & (nonNegative != prevNonNegative));
            prevNonNegative = nonNegative;
        }
        M_ = M;
        peak_ = peak;
        peakIndex_ = peakIndex;
        crossings_ = crossings;
        prevNonNegative_ = prevNonNegative;
        n_ = first + count;
        E_ += blockEnergy;
        envelope_.push_back(static_cast<float>(std::sqrt(blockEnergy / std::max(count, 1))));
        if (count == kAnalysisFrameSize) SpectralFrame(block);
    }

    int SpectralFrames() const { return spectralFrames_; }
    int64_t SamplesRead() const { return n_; }

    void Store(LibraryFile& out) const;

private:
    int BinOf(float hz) const {
        return std::clamp(static_cast<int>(hz / binHz_), 0, kBins - 1);
    }

    void SpectralFrame(const float* block);
    void Magnitudes(const float* block);

    float rate_;
    FftState& fft_;
    float binHz_ = 0;
    int edge_[6] = {};
    int hfBin_ = 0;
    int lowBin_ = 0;

    // Time domain.
    int64_t n_ = 0;
    double E_ = 0;
    double M_ = 0;
    float peak_ = 0;
    int64_t peakIndex_ = 0;
    int64_t crossings_ = 0;
    bool prevNonNegative_ = true;
    std::vector<float> envelope_;

    // Spectral domain.
    std::array<float, kAnalysisFrameSize> windowed_{};
    std::array<kiss_fft_cpx, kBins + 1> spectrum_{};
    std::array<float, kBins> mag_{};
    std::array<float, kBins> prevMag_{};
    double band_[5] = {};
    double S0_ = 0, S1_ = 0, T_ = 0, H_ = 0;
    double fluxSum_ = 0;
    int fluxCount_ = 0;
    double logMeanSum_ = 0, magMeanSum_ = 0;
    int flatFrames_ = 0;
    double harmSum_ = 0;
    int harmCount_ = 0;
    int spectralFrames_ = 0;
    bool havePitchBlock_ = false;
    std::array<float, kAnalysisFrameSize> pitchBlock_{};
};

void DescriptorAccumulator::Magnitudes(const float* block) {
    const float* w = fft_.window.data();
    for (int j = 0; j < kAnalysisFrameSize; ++j) windowed_[j] = block[j] * w[j];
    kiss_fftr(fft_.plan.get(), windowed_.data(), spectrum_.data());
    int k = 0;
#if defined(KORVEL_ANALYSIS_SSE)
    // Four bins at a time: the compiler keeps the square root scalar for the
    // sake of errno. The operations and their rounding are the scalar ones.
    static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float) && kBins % 4 == 0);
    const float* bins = &spectrum_[0].r;
    for (; k < kBins; k += 4) {
        const __m128 lo = _mm_loadu_ps(bins + 2 * k);      // r0 i0 r1 i1
        const __m128 hi = _mm_loadu_ps(bins + 2 * k + 4);  // r2 i2 r3 i3
        const __m128 re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
        _mm_storeu_ps(&mag_[k], _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im))));
    }
#endif
    for (; k < kBins; ++k)
        mag_[k] = std::sqrt(spectrum_[k].r * spectrum_[k].r + spectrum_[k].i * spectrum_[k].i);
}

void DescriptorAccumulator::SpectralFrame(const float* block) {
    Magnitudes(block);
    const float* mag = mag_.data();

    // Every sum over the bins in one pass, so their additions overlap
    // instead of each waiting out a loop of its own. Each sum still adds its
    // bins one by one in rising order, and a bin outside a sum's range adds
    // an exact zero to a sum of non-negative terms, so the values are the
    // ones separate loops give: bands, the centroid sums and the total from
    // bin 1 (shared by harmonicity), the high-frequency share, the flux and
    // the flatness.
    //
    // Flatness: the sum of logarithms is taken as the logarithm of a running
    // product kept in range by splitting off its binary exponent, one log per
    // frame instead of one per bin. Seven float magnitudes above 1e-12 always
    // multiply to a finite, non-zero double.
    const bool flux = spectralFrames_ > 0;
    double s0 = 0, s1 = 0, high = 0, diff2 = 0;
    double bandSum = 0;
    int band = 0;  // the band bandSum belongs to
    int m = 0;
    double flatSum = 0;
    double product = 1.0;
    long exponent = 0;
    double chunk = 1.0;
    int inChunk = 0;
    for (int k = 0; k < kBins; ++k) {
        const float v = mag[k];
        while (band < 5 && k == edge_[band + 1]) {
            band_[band++] += bandSum;
            bandSum = 0;
        }
        if (band < 5 && k >= edge_[0]) bandSum += v;
        const bool fromOne = k >= 1;
        s0 += fromOne ? v : 0.0f;
        s1 += fromOne ? static_cast<float>(k) * binHz_ * v : 0.0f;
        high += k >= hfBin_ ? v : 0.0f;
        if (flux) {
            const double d = static_cast<double>(v) - prevMag_[k];
            diff2 += d * d;
        }
        if (fromOne && v > 1e-12f) {
            ++m;
            flatSum += v;
            chunk *= v;
            if (++inChunk == 7) {
                int e = 0;
                product = std::frexp(product * chunk, &e);
                exponent += e;
                chunk = 1.0;
                inChunk = 0;
            }
        }
    }
    for (; band < 5; ++band) {
        band_[band] += bandSum;
        bandSum = 0;
    }
    S0_ += s0;
    S1_ += s1;
    T_ += s0 + mag[0];
    H_ += high;
    if (flux) {
        fluxSum_ += std::sqrt(diff2);
        ++fluxCount_;
    }
    prevMag_ = mag_;
    if (m > 0 && flatSum > 0) {
        int e = 0;
        product = std::frexp(product * chunk, &e);
        exponent += e;
        const double logSum = std::log(product) + exponent * std::numbers::ln2;
        logMeanSum_ += logSum / m;
        magMeanSum_ += flatSum / m;
        ++flatFrames_;
    }

    // Harmonicity around the strongest bin at 50 Hz or above.
    {
        // The first bin holding the largest magnitude, when that is above
        // 0: the largest value is found four bins at a time, then its first
        // place. Magnitudes are finite, so the value is the one a
        // bin-by-bin search keeps.
        float best = 0.0f;
        int k = lowBin_;
#if defined(KORVEL_ANALYSIS_SSE)
        __m128 largest = _mm_setzero_ps();
        for (; k + 4 <= kBins; k += 4) largest = _mm_max_ps(largest, _mm_loadu_ps(mag + k));
        float lanes[4];
        _mm_storeu_ps(lanes, largest);
        best = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
#endif
        for (; k < kBins; ++k) best = std::max(best, mag[k]);
        int P = lowBin_;
        if (best > 0.0f)
            while (mag[P] != best) ++P;
        if (P > 0 && mag[P] > 1e-10f) {
            double harm = 0;
            for (int h = 1; h <= 8 && h * P <= kBins - 1; ++h) {
                const int c = h * P;
                for (int d = -2; d <= 2; ++d) {
                    const int k = c + d;
                    if (k >= 1 && k <= kBins - 1) harm += mag[k];
                }
            }
            if (s0 > 0) {
                harmSum_ += harm / s0;
                ++harmCount_;
            }
        }
    }

    // The pitch is measured on the first block that is loud within the
    // file so far; needing two envelope values keeps it off the first block.
    if (!havePitchBlock_ && envelope_.size() >= 2) {
        const float newest = envelope_.back();
        const float largest = *std::max_element(envelope_.begin(), envelope_.end());
        if (newest > 0.5f * largest && newest > 0.01f) {
            std::copy(block, block + kAnalysisFrameSize, pitchBlock_.begin());
            havePitchBlock_ = true;
        }
    }

    ++spectralFrames_;
}

void DescriptorAccumulator::Store(LibraryFile& out) const {
    const double samples = static_cast<double>(n_);
    const float Nf = static_cast<float>(n_);

    const double rms = std::sqrt(E_ / samples);
    out.rmsDb = rms > 0 ? static_cast<float>(20.0 * std::log10(rms)) : -100.0f;
    out.crestDb = rms > 0 ? static_cast<float>(20.0 * std::log10(peak_ / rms)) : 0.0f;
    out.peakToRmsDb = out.crestDb;
    out.peakPosition = Nf > 0 ? static_cast<float>(peakIndex_) / Nf : 0.0f;
    out.zeroCrossingRate = Clamp01(4.0 * static_cast<double>(crossings_) / samples);
    if (E_ > 0) out.temporalCentroid = Clamp01((M_ / E_) / Nf);

    const double largestBand = *std::max_element(band_, band_ + 5);
    if (largestBand > 0)
        for (int i = 0; i < 5; ++i) out.bandEnergies[i] = static_cast<float>(band_[i] / largestBand);
    const auto& b = out.bandEnergies;
    const float bandTotal = b[0] + b[1] + b[2] + b[3] + b[4];
    if (bandTotal > 0)
        out.spectralWeight =
            (0.1f * b[0] + 0.3f * b[1] + 0.5f * b[2] + 0.7f * b[3] + 0.9f * b[4]) / bandTotal;

    if (S0_ > 0) {
        const double centroid = std::max(100.0, S1_ / S0_);
        out.brightness = Clamp01((std::log10(centroid) - std::log10(100.0)) /
                                 (std::log10(8000.0) - std::log10(100.0)));
    }
    out.hfRatio = T_ > 0 ? static_cast<float>(H_ / T_) : 0.0f;
    if (fluxCount_ > 0) out.spectralFlux = Clamp01((fluxSum_ / fluxCount_) / 30.0);
    if (flatFrames_ > 0 && magMeanSum_ / flatFrames_ > 1e-12)
        out.spectralFlatness =
            Clamp01(std::exp(logMeanSum_ / flatFrames_) / (magMeanSum_ / flatFrames_));
    if (harmCount_ > 0) out.harmonicity = Clamp01(harmSum_ / harmCount_);

    if (havePitchBlock_) {
        float confidence = 0.0f;
        const float f0 = EstimatePitchYin(pitchBlock_.data(), kAnalysisFrameSize, rate_, confidence);
        out.pitchConfidence = confidence;
        if (f0 > 20.0f && f0 < 10000.0f && confidence > 0.3f) {
            out.pitchHz = f0;
            FrequencyToMidi(f0, out.midiNote, out.pitchCents);
        }
    }

    if (envelope_.size() >= 3) {
        const float mx = *std::max_element(envelope_.begin(), envelope_.end());
        size_t onset = 0;
        for (size_t i = 0; i < envelope_.size(); ++i) {
            if (envelope_[i] > 0.15f * mx) {
                onset = i;
                break;
            }
        }
        out.attackPosition = static_cast<float>(onset) / static_cast<float>(envelope_.size());
        size_t loudest = 0;
        float best = 0.0f;
        for (size_t i = 0; i < envelope_.size(); ++i) {
            if (envelope_[i] > best) {
                best = envelope_[i];
                loudest = i;
            }
        }
        const double blocks = static_cast<double>(loudest) - static_cast<double>(onset);
        out.attackTime = static_cast<float>(std::max(0.0, blocks * kAnalysisFrameSize / rate_));
    }
}

// Samples far outside any real recording (or not numbers at all, which float
// files can hold) would turn the sums into infinities; they are taken as 0
// or held at ±1e6 so every descriptor stays a finite number.
inline float SanitizeSample(float x) {
    if (!std::isfinite(x)) return 0.0f;
    return std::clamp(x, -1e6f, 1e6f);
}

int64_t AnalysedLength(float sampleRate, int64_t frames) {
    const int64_t limit = static_cast<int64_t>(sampleRate * kAnalysisSeconds);
    return std::min(limit, frames);
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Mono signals
// ---------------------------------------------------------------------------

bool AnalyzeMonoSignal(const float* mono, int64_t frames, float sampleRate, LibraryFile& out,
                       FftState* fft) {
    if (!mono || frames <= 0 || !(sampleRate > 0)) return false;
    TransformScope transform;
    if (!transform.Prepare(fft)) return false;

    DescriptorAccumulator acc(sampleRate, *transform.used);
    const int64_t N = AnalysedLength(sampleRate, frames);
    std::array<float, kAnalysisFrameSize> block{};
    for (int64_t done = 0; done < N;) {
        const int c = static_cast<int>(std::min<int64_t>(N - done, kAnalysisFrameSize));
        for (int j = 0; j < c; ++j) block[j] = SanitizeSample(mono[done + j]);
        std::fill(block.begin() + c, block.end(), 0.0f);
        acc.AddBlock(block.data(), c);
        done += c;
    }
    if (acc.SamplesRead() == 0 || acc.SpectralFrames() == 0) return false;
    acc.Store(out);
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Sound files
// ---------------------------------------------------------------------------

namespace {

std::string FileStem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

void ReadDescription(SNDFILE* file, std::string& description) {
    description = ReadBroadcastDescription(file);

    std::string tags;
    for (int kind : {SF_STR_TITLE, SF_STR_COMMENT, SF_STR_ARTIST}) {
        const char* s = sf_get_string(file, kind);
        if (!s || !*s) continue;
        if (!tags.empty()) tags += ' ';
        tags += s;
    }
    if (tags.empty()) return;
    if (description.empty()) {
        description = tags;
    } else {
        const size_t probe = std::min<size_t>(20, tags.size());
        if (description.find(tags.data(), 0, probe) == std::string::npos) {
            description += ' ';
            description += tags;
        }
    }
}

}  // namespace

bool AnalyzeAudioFile(const std::string& path, LibraryFile& out, FftState* fft) {
    return AnalyzeAudioFile(path, out, fft, GlobalAppState.channelOrderFallback);
}

bool AnalyzeAudioFile(const std::string& path, LibraryFile& out, FftState* fft,
                      int32_t channelOrderFallback, bool* tooShort) {
    if (tooShort) *tooShort = false;
    SF_INFO info;
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file) return false;
    if (info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0) return false;

    const float rate = static_cast<float>(info.samplerate);
    const int channels = info.channels;
    out.path = path;
    out.name = FileStem(path);
    out.sampleRate = rate;
    out.channels = channels;
    out.bitsPerSample = BitsPerSampleFromFormat(info.format);
    out.duration = static_cast<float>(info.frames) / rate;
    out.mtime = GetFileModifiedTime(path);

    const ChannelMap map = BuildChannelMap(file.get(), channels, channelOrderFallback, 0);
    out.layoutClass = map.fromFile ? ClassifyChannelLayout(channels, map) : -1;

    uint64_t fingerprint = 0, size = 0;
    if (ComputeFileFingerprint(path, fingerprint, size)) {
        out.fingerprint = fingerprint;
        out.size = size;
        out.fileId = AssignFileId(path, fingerprint, size).id;
    }

    ReadDescription(file.get(), out.description);

    TransformScope transform;
    if (!transform.Prepare(fft)) return false;

    DescriptorAccumulator acc(rate, *transform.used);
    const int64_t N = AnalysedLength(rate, info.frames);
    std::vector<float>& interleaved = transform.used->interleaved;
    interleaved.resize(static_cast<size_t>(kAnalysisFrameSize) * channels);
    std::array<float, kAnalysisFrameSize> block{};
    const float scale = 1.0f / static_cast<float>(channels);
    for (int64_t done = 0; done < N;) {
        const sf_count_t want = std::min<int64_t>(N - done, kAnalysisFrameSize);
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), want);
        if (got < 1) break;
        const int c = static_cast<int>(got);
        if (channels == 1) {
            for (int j = 0; j < c; ++j) block[j] = SanitizeSample(interleaved[j]);
        } else {
            const float* frame = interleaved.data();
            for (int j = 0; j < c; ++j, frame += channels) {
                float sum = 0.0f;
                for (int ch = 0; ch < channels; ++ch) sum += frame[ch];
                block[j] = SanitizeSample(sum * scale);
            }
        }
        std::fill(block.begin() + c, block.end(), 0.0f);
        acc.AddBlock(block.data(), c);
        done += c;
    }
    file.reset();

    if (tooShort) *tooShort = acc.SamplesRead() > 0 && acc.SpectralFrames() == 0;
    if (acc.SamplesRead() == 0 || acc.SpectralFrames() == 0) return false;
    acc.Store(out);
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Small helpers
// ---------------------------------------------------------------------------

void FrequencyToMidi(float hz, int& note, float& cents) {
    if (!(hz > 0.0f)) {
        note = -1;
        cents = 0.0f;
        return;
    }
    const float m = 12.0f * std::log2(hz / 440.0f) + 69.0f;
    const float rounded = std::round(m);  // halves away from zero
    cents = (m - rounded) * 100.0f;
    note = static_cast<int>(std::clamp(rounded, 0.0f, 127.0f));
}

int64_t GetFileModifiedTime(const std::string& path) {
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    const auto system = std::chrono::file_clock::to_sys(written);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

}  // namespace korvel
