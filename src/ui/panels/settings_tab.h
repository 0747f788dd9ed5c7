#pragma once
// The settings tab: the project's rate, frame rate, timecodes, description,
// loudness, track budget and scale, and the application preferences (audio
// device, focus, chains, channel order, auto-save, demo content, update
// checks). Drawn every frame on the UI thread; the steps that change state
// are separate functions so they can be tested without drawing.
//
// [SECTION] Steps
// [SECTION] Drawing
#include <cstdint>
#include <string>

#include "app/ui_layout.h"
#include "project/app_state.h"
#include "project/project.h"

struct ImDrawList;

namespace korvel {

// [SECTION] Steps

inline constexpr std::int32_t kSettingsSampleRates[] = {44100, 48000, 88200, 96000, 192000};
inline constexpr float kSettingsFrameRates[] = {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 48.0f, 50.0f, 59.94f, 60.0f, 120.0f};
inline constexpr float kAutoSaveIntervals[] = {60.0f, 120.0f, 300.0f, 600.0f, 900.0f, 1800.0f};
// The budget drags stay inside what the project file keeps.
inline constexpr std::int32_t kBudgetTracksMin = 1;
inline constexpr std::int32_t kBudgetTracksMax = 32;
inline constexpr std::int32_t kMaxBackupsMin = 1;
inline constexpr std::int32_t kMaxBackupsMax = 50;

// The combos' current entries: the one matching, else the stated default
// ("48000 Hz", "24", "5 min").
int SampleRateIndex(std::int32_t rate);
int FrameRateIndex(float fps);
int AutoSaveIntervalIndex(float seconds);
// The name of any scale type, "Off" for an unknown one.
const char* ScaleName(std::int32_t scaleType);

// "Rebuild": with layers, starts the cache rebuild; when a job runs and
// `requestWhenBusy`, asks the frame to rebuild after it instead.
void RebuildForSettings(const char* label, bool requestWhenBusy);

// A new project rate: the engine's rate, its reverb reset through the audio
// thread's requests, the output reopened at it, the rebuild (or its request
// while a job runs). Nothing for the current rate.
void ChooseProjectSampleRate(std::int32_t rate);

// The three timecode fields. Each returns false, changing nothing, when the
// text holds fewer than three numbers.
bool SetStartTimecode(const char* text);
bool SetTimelineDuration(const char* text);
bool SetVideoStart(const char* text);
// A timecode field's text for `seconds` at the project's rate.
std::string TimecodeFieldText(float seconds);

// After a budget change: lanes dealt anew, then the rebuild.
void RecountTracks();

// The "Backups to keep" field's store: clamped at once.
void SetMaxBackups(std::int32_t value);

// The update texts.
bool UpdatePending(const AppState& state);
// "Last checked …" for `seconds` since the last check.
std::string LastCheckedText(std::int64_t seconds);
// What "View update" opens: the release's https address, else the fixed page.
std::string UpdatePageUrl(const std::string& url);
void DismissUpdate();

// [SECTION] Drawing

void DrawSettingsTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
