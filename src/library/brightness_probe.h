#pragma once
// Spectral weights of Clip and Bed sources that the designer chose directly:
// taken from the library when it indexes the file, otherwise measured on a
// background probe thread and applied on the UI thread.
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "library/file_id.h"

namespace korvel {

struct Palette;

struct ProbeItem {
    std::string key;  // the source's FileId, else its path
    std::string path;
};

struct ProbeResult {
    std::string key;
    float value = 0.5f;  // brightness 0..1
};

// Probe results by key for the whole run. UI thread only.
extern std::unordered_map<std::string, float> KnownBrightness;
// Keys ever handed to a probe thread; never queued twice. UI thread only.
extern std::set<std::string> PendingProbes;
// Published by the probe thread, drained by the UI thread, both under
// ProbeResultsMutex.
extern std::vector<ProbeResult> ProbeResults;
extern std::mutex ProbeResultsMutex;
// Started and joined by the UI thread only (and by StopBrightnessProbe). A
// jthread: when a library ends the process with exit() (Xlib on a lost
// display), a probe left unjoined is joined instead of aborting the process.
extern std::jthread probeThread;
// Set by the UI thread before a start, cleared by the probe thread at its end.
extern std::atomic<bool> probeRunning;
// Set at quit: the probe thread stops before its next file.
extern std::atomic<bool> probeQuit;
// UI clock seconds before which no queueing pass runs. UI thread only.
extern double nextProbeTime;

// The brightness (0..1) of the first library file with this identity or
// path, palettes and files in order; -1 when none (or no palettes) matches.
float GetFileBrightness(const std::string& path, const FileId& id, const std::vector<Palette>* palettes);

// Fills an unknown (negative or NaN) weight from the library or an earlier
// probe and sets `changed`; otherwise queues the file once, when it exists.
void QueueBrightnessProbe(bool& changed, std::vector<ProbeItem>& work, const FileId& id,
                          const std::string& path, float& weight);

// The probe thread's body: analyses each file (0.5 when it cannot) and
// publishes the result.
void BrightnessProbeThread(std::vector<ProbeItem> items);

// Once per frame on the UI thread, with the UI clock. While no background
// job runs: applies published results to the events' weights, and every
// 2 seconds fills what is known and starts a probe thread for the rest.
// Returns true when some weight changed (the project is then marked
// changed): the caller brings the Bed and Clip layers up to date.
bool UpdateSourceWeights(double now);

// At quit, on the UI thread: asks the probe thread to stop and joins it.
void StopBrightnessProbe();

}  // namespace korvel
