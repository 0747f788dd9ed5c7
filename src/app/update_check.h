#pragma once
// The optional check for a newer release: a thread fetches the release
// manifest through the HttpGet hook, picks the newest release for this
// platform and hands the finding to the UI thread through one locked slot,
// which the frame takes (TakeUpdateCheckResult). Only then does the check
// count as finished, so two checks never overlap and UpdateInfo is written
// by the UI thread alone.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/app_state.h"

namespace korvel {

inline constexpr const char* kUpdatePlatform = "linux";
inline constexpr const char* kReleaseServer = "https://releases.korvel.app";
inline constexpr const char* kUpdateManifestUrl = "https://releases.korvel.app/releases/changelog.json";
// Opened by "View update" when the release's own address is not https.
inline constexpr const char* kReleaseNotesPage = "https://releases.korvel.app/releases/";
inline constexpr std::int32_t kSupportedManifestSchema = 1;
// The automatic check waits at least this long after the last one.
inline constexpr std::int64_t kUpdateCheckPeriod = 86399;

// -1, 0 or 1 comparing dotted numeric versions; a missing component counts
// as 0 ("2026.8" equals "2026.8.0"). Each component saturates at INT64_MAX.
int CompareVersions(std::string_view a, std::string_view b);

// What a manifest says, against `buildVersion`.
struct UpdateManifestResult {
    enum class Kind {
        Ignored,   // not a usable manifest: nothing changes
        Newer,     // a newer release: the texts below replace UpdateInfo's
        NotNewer,  // no newer release for this platform: a found update is cleared
    };
    Kind kind = Kind::Ignored;
    std::string version;
    std::string url;
    std::string date;
    std::vector<std::string> notes;
    std::string diagnostic;  // an "[Update] ..." line for standard error, or empty
};

// Reads a manifest body (leading blanks allowed) with the strict parser.
UpdateManifestResult ReadUpdateManifest(std::string_view body, std::string_view buildVersion,
                                        std::string_view platform = kUpdatePlatform);

// Applies a result to the state's UpdateInfo; true when the preferences
// should be saved. UI thread.
bool ApplyUpdateManifestResult(AppState& state, UpdateManifestResult&& result);

// Starts one check unless one runs (updateCheckRunning) or no HttpGet hook is
// installed. Joins the previous, finished thread first. UI thread.
void StartUpdateCheck();

// The body of the check thread; public for tests.
void UpdateCheckThread();

// Takes a finished check's finding into GlobalAppState (lastUpdateCheck,
// UpdateInfo, PrefsSaveRequested) and only then clears updateCheckRunning.
// Once per frame, UI thread.
void TakeUpdateCheckResult();

// The first frame's automatic check: with updateCheckEnabled, once a day.
void MaybeStartAutomaticUpdateCheck(std::int64_t now);

// Aborts a running request and joins the thread; a finding not yet taken is
// dropped and updateCheckRunning cleared. UI thread (StopWorkers).
void StopUpdateCheck();

// Whether `url` may be opened by "View update": https only.
bool IsOpenableUpdateUrl(std::string_view url);

}  // namespace korvel
