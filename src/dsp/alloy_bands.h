#pragma once
// Alloy algorithm 2, filter bands: the primary, mid and high sources are split
// into logarithmically spaced bands, and in every band and every 50 ms window
// the loudest of them plays, with equal-power crossfades when the choice
// changes. The tone curve tilts the band gains. `FilterBand` is shared with
// the graft algorithm.
#include <array>
#include <cstdint>
#include <vector>

#include "dsp/alloy_common.h"

namespace korvel {

enum class AlloyBandPosition { First, Middle, Last };

// First: low-pass at hi twice; last: high-pass at lo twice; middle: both.
// Each stage is a Butterworth second-order section (Q 0.7071), so pairs make
// fourth-order Linkwitz-Riley slopes.
std::vector<float> FilterBand(const std::vector<float>& signal, double lo, double hi, AlloyBandPosition position,
                              int32_t sampleRate);

// The bands of one signal as a Linkwitz-Riley crossover tree: band a is the
// remainder above every lower edge (high-passed twice at each), low-passed
// twice at its own upper edge, then passed through the all-pass of every
// higher crossover, so that all bands have the same phase and sum back to
// the input (up to one overall all-pass). Bands come one at a time, lowest
// first, so only one band per source is ever held.
// One second-order section, normalised (a0 = 1).
struct AlloyBandSection {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

class AlloyBandSplitter {
public:
    AlloyBandSplitter(const std::vector<double>& edges, int32_t sampleRate);
    // Starts on a new signal; the next band is band 0.
    void Start(const std::vector<float>& signal);
    // The next band, `edges.size() + 1` in all.
    void NextBand(std::vector<float>& band);

private:
    struct Crossover {
        std::array<AlloyBandSection, 2> lowPass;
        std::array<AlloyBandSection, 2> highPass;
        AlloyBandSection allPass;
    };
    std::vector<Crossover> crossovers_;
    std::vector<float> remainder_;
    std::vector<AlloyBandSection> sections_;  // the current band's chain, reused
    size_t next_ = 0;
};

// Every band of `signal` at once (tests and analysis; the kernel splits band
// by band).
std::vector<std::vector<float>> AlloyCrossoverBands(const std::vector<float>& signal,
                                                    const std::vector<double>& edges, int32_t sampleRate);

struct AlloyBandsParams {
    int32_t frames = 0;
    int32_t sampleRate = 48000;
    int32_t bandCount = 10;
    std::vector<double> edges;  // bandCount − 1 edges in Hz, rising
    std::vector<float> tilt;    // one tone-curve value per sample
    int32_t window = 2400;      // samples per choice window
    int32_t crossfade = 240;    // samples
};

// The band edges of `bandCount` bands from `base` Hz up to `top` Hz.
std::vector<double> AlloyBandEdges(int32_t bandCount, double base, double top);

// Per-sample tone-curve values (0.5 throughout without curves).
std::vector<float> AlloyToneBySample(const AlloyCurves& curves, int32_t frames);

AlloyBandsParams MakeAlloyBandsParams(const LayerResult& layer, int32_t sampleRate, int32_t frames);

// Per channel: `out` becomes the sum of every band's chosen source, the
// bands taken from the crossover tree above.
void AlloyFilterBandsKernel(const AlloyBandsParams& params, const AlloySlotVectors& slots,
                            const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out);

}  // namespace korvel
