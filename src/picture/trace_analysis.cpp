// The picture read: per-frame measures, the analysis thread with its two
// callbacks, starting, cancelling and the lookups. The detector is in
// trace_detection.cpp.
//
// [SECTION] Measures of one frame
// [SECTION] Lookups
// [SECTION] The analysis thread
// [SECTION] Starting and cancelling (UI thread)
#include "picture/trace_analysis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "picture/video_player.h"
#include "project/app_state.h"

namespace korvel {

// ---------------------------------------------------------------------------
// [SECTION] Measures of one frame

namespace {

constexpr int kHistogramBins = 24;  // 8 each for red, green and blue

float Rec709(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

}  // namespace

void TraceAnalysis::AddFrame(int index, float time, const std::uint8_t* rgba, int width, int height) {
    if (index < 0 || static_cast<std::size_t>(index) >= frames.size()) return;
    FrameMeasures m;
    m.time = time;
    const std::int64_t pixels = std::int64_t{width} * std::int64_t{height};
    if (pixels > 0 && width > 0 && rgba != nullptr) {
        constexpr double kInv = 1.0 / 255.0;
        double lumaSum = 0.0, satSum = 0.0, rSum = 0.0, gSum = 0.0, bSum = 0.0;
        std::vector<float> histogram(kHistogramBins, 0.0f);
        std::vector<std::int64_t> counts(kHistogramBins, 0);
        for (std::int64_t p = 0; p < pixels; ++p) {
            const std::uint8_t* px = rgba + p * 4;
            const double r = px[0] * kInv, g = px[1] * kInv, b = px[2] * kInv;
            lumaSum += 0.2126 * r + 0.7152 * g + 0.0722 * b;
            const double hi = std::max({r, g, b});
            const double lo = std::min({r, g, b});
            if (hi > 0.001) satSum += (hi - lo) / hi;
            rSum += r;
            gSum += g;
            bSum += b;
            // floor(8 × byte / 255), with 255 falling into the top bin
            ++counts[std::min(px[0] * 8 / 255, 7)];
            ++counts[8 + std::min(px[1] * 8 / 255, 7)];
            ++counts[16 + std::min(px[2] * 8 / 255, 7)];
        }
        const double n = static_cast<double>(pixels);
        m.luma = static_cast<float>(lumaSum / n);
        m.saturation = static_cast<float>(satSum / n);
        const double meanG = gSum / n;
        m.warmth = static_cast<float>(std::clamp((rSum / n - bSum / n) / std::max(0.5 * meanG + 0.3, 0.01), -1.0, 1.0));
        for (int i = 0; i < kHistogramBins; ++i) histogram[i] = static_cast<float>(static_cast<double>(counts[i]) / n);

        if (!previousHistogram.empty()) {
            double change = 0.0;
            for (int i = 0; i < kHistogramBins && i < static_cast<int>(previousHistogram.size()); ++i) {
                change += std::fabs(histogram[i] - previousHistogram[i]);
            }
            m.histogramChange = static_cast<float>(change / 6.0);
        }
        if (!previousPixels.empty() && width == previousWidth && height == previousHeight &&
            previousPixels.size() >= static_cast<std::size_t>(pixels) * 4) {
            double sum = 0.0;
            std::int64_t sampled = 0;
            // Every fourth pixel is enough to see movement at this size.
            for (std::int64_t p = 0; p < pixels; p += 4, ++sampled) {
                const std::uint8_t* c = rgba + p * 4;
                const std::uint8_t* q = previousPixels.data() + p * 4;
                const float rc = c[0] / 255.0f, gc = c[1] / 255.0f, bc = c[2] / 255.0f;
                const float rp = q[0] / 255.0f, gp = q[1] / 255.0f, bp = q[2] / 255.0f;
                const double lc = std::log(Rec709(rc, gc, bc) + 0.01);
                const double lp = std::log(Rec709(rp, gp, bp) + 0.01);
                const float dg = gc - gp;
                sum += std::fabs(lc - lp) + 0.3 * (std::fabs((rc - rp) - dg) + std::fabs((bc - bp) - dg));
            }
            m.motion = static_cast<float>(sum / (3.0 * static_cast<double>(sampled)));
        }
        previousHistogram = std::move(histogram);
        previousPixels.assign(rgba, rgba + pixels * 4);
        previousWidth = width;
        previousHeight = height;
    }

    // Steps that delivered no frame since the last one hold their own time
    // and the last picture's light and colour with no change, so the deltas
    // of this frame read as spanning those steps rather than as a flash from
    // black. Before the first delivered frame, this frame stands in.
    const int last = framesDone.load(std::memory_order_relaxed) - 1;
    if (index > last + 1) {
        const FrameMeasures* from = last >= 0 ? &frames[static_cast<std::size_t>(last)] : &m;
        const float t0 = last >= 0 ? frames[static_cast<std::size_t>(last)].time : 0.0f;
        const int i0 = last >= 0 ? last : 0;
        for (int i = last + 1; i < index; ++i) {
            FrameMeasures gap;
            gap.time = t0 + (time - t0) * static_cast<float>(i - i0) / static_cast<float>(index - i0);
            gap.luma = from->luma;
            gap.warmth = from->warmth;
            gap.saturation = from->saturation;
            frames[static_cast<std::size_t>(i)] = gap;
        }
    }
    if (index > 0) m.lumaDelta = m.luma - frames[static_cast<std::size_t>(index) - 1].luma;
    frames[static_cast<std::size_t>(index)] = m;
    framesDone.store(index + 1, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// [SECTION] Lookups

namespace {

float LookUp(const TraceAnalysis& a, float FrameMeasures::*field, float t) {
    if (a.frames.empty() || a.fps <= 0.0f) return 0.0f;
    const float f = a.fps * t;
    const int i = static_cast<int>(f);
    const int last = static_cast<int>(a.frames.size()) - 1;
    const int index = i >= 0 ? std::min(i, std::max(last, 0)) : 0;
    const int next = std::min(index + 1, last);
    const float v = a.frames[static_cast<std::size_t>(index)].*field;
    const float w = a.frames[static_cast<std::size_t>(next)].*field;
    return v + (f - static_cast<float>(index)) * (w - v);
}

}  // namespace

float TraceAnalysis::LumaAt(float t) const { return LookUp(*this, &FrameMeasures::luma, t); }
float TraceAnalysis::MotionAt(float t) const { return LookUp(*this, &FrameMeasures::smoothedMotion, t); }
float TraceAnalysis::CompositeAt(float t) const { return LookUp(*this, &FrameMeasures::composite, t); }
float TraceAnalysis::ThresholdAt(float t) const { return LookUp(*this, &FrameMeasures::threshold, t); }

// ---------------------------------------------------------------------------
// [SECTION] The analysis thread

void TraceFrameCallback(int index, float time, const std::uint8_t* rgba, int width, int height, void* user) {
    auto* pair = static_cast<TraceCallbackPair*>(user);
    pair->analysis->AddFrame(index, time, rgba, width, height);
}

float TraceProgressCallback(float fraction, void* user) {
    auto* pair = static_cast<TraceCallbackPair*>(user);
    BackgroundJob& job = pair->state->backgroundJob;
    job.progress.store(fraction);
    return job.cancel.load() ? -1.0f : fraction;
}

void TraceThread(float* rate, TraceSettings settings) {
    const std::unique_ptr<float> owned(rate);
    AppState& state = GlobalAppState;
    TraceCallbackPair pair{&state, &state.traceAnalysis};
    GlobalVideoPlayer.SampleFrames(*owned, 160, TraceFrameCallback, &pair, TraceProgressCallback, &pair);
    if (!state.backgroundJob.cancel.load()) {
        settings.sensitivity = 0.9f;
        DetectTraceEvents(state.traceAnalysis, settings);
    }
    // Last: the UI reads the result only after it sees this (acquire).
    state.traceRunning.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// [SECTION] Starting and cancelling (UI thread)

namespace {

// More picture-read records than any video the player opens needs (a day
// at ten a second is 864,000).
constexpr double kMaxTraceRecords = 1.0e8;

}  // namespace

bool StartTraceRead(AppState& state) {
    BackgroundJob& job = state.backgroundJob;
    const VideoPlayer& player = GlobalVideoPlayer;
    if (!player.loaded || state.traceAnalysis.valid || state.traceRunning.load() || job.active.load()) return false;
    // The slot may still hold a finished read's thread.
    if (job.worker.joinable()) job.worker.join();

    TraceAnalysis& a = state.traceAnalysis;
    job.progress.store(0.0f);
    job.cancel.store(false);
    a.valid = false;
    a.frames.clear();
    a.events.clear();
    a.maxCompositeEnergy = 0.0f;
    a.duration = player.duration;
    a.fps = 10.0f;
    a.framesDone.store(0);
    a.previousPixels.clear();
    a.previousHistogram.clear();
    a.previousWidth = a.previousHeight = 0;
    // Marked running only once the thread runs: a read that cannot start
    // must not leave a cancel waiting for a thread that never ends it.
    // Sized once: the thread writes records in place and never grows it.
    const double records = std::floor(10.0 * static_cast<double>(a.duration)) + 2.0;
    if (records < kMaxTraceRecords) {
        try {
            a.frames.assign(static_cast<std::size_t>(records), FrameMeasures{});
            state.traceRunning.store(true);
            // The settings are copied here, on the UI thread, which may edit
            // them while the read runs. The thread owns the rate once it runs.
            auto rate = std::make_unique<float>(10.0f);
            job.worker = std::thread(TraceThread, rate.get(), state.traceSettings);
            rate.release();
            return true;
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        } catch (const std::system_error&) {
        }
    }
    state.traceRunning.store(false, std::memory_order_release);
    std::vector<FrameMeasures>().swap(a.frames);
    std::printf("[Video] picture read could not start (%.0f s of video)\n", static_cast<double>(a.duration));
    std::fflush(stdout);
    return false;
}

void CancelTraceAnalysis(AppState& state) {
    BackgroundJob& job = state.backgroundJob;
    if (state.traceRunning.load(std::memory_order_acquire)) {
        job.cancel.store(true);
        while (state.traceRunning.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // While a job is active the slot holds the job's thread (a job and a
    // read never run at once): it is the job's to end, not ours to wait for.
    if (!job.active.load() && job.worker.joinable() && job.worker.get_id() != std::this_thread::get_id()) {
        job.worker.join();
    }
    TraceAnalysis& a = state.traceAnalysis;
    a.valid = false;
    a.frames.clear();
    a.events.clear();
    a.maxCompositeEnergy = 0.0f;
}

bool TraceReadValid(const AppState& state) {
    return !state.traceRunning.load(std::memory_order_acquire) && state.traceAnalysis.valid;
}

}  // namespace korvel
