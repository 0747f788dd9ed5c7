#include "app/frame_work.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "app/background_job.h"
#include "app/drops.h"
#include "app/update_check.h"
#include "engine/bed_event.h"
#include "engine/render_job.h"
#include "engine/voice_sync.h"
#include "library/brightness_probe.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/missing_sources.h"
#include "library/palettes.h"
#include "playback/audio_output.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/chains.h"
#include "presets/demo_content.h"
#include "presets/preferences.h"
#include "presets/recipes.h"
#include "project/project.h"
#include "project/project_life.h"
#include "project/undo.h"
#include "app/theme.h"
#include "picture/ref_audio.h"
#include "picture/trace_analysis.h"
#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "playback/mixer_publishing.h"
#include "project/file_io.h"

// [SECTION] Edit guard and frame state
// [SECTION] Start-up frames, library folders, video, drops
// [SECTION] Scene links, beds, deletes, rebuilds and renders
// [SECTION] The running job, the export, upkeep and transport
// [SECTION] Close, open and the end of the frame
// [SECTION] Status line

namespace korvel {

// [SECTION] Edit guard and frame state

FrameWorkState FrameWork;
FrameCommandStepHooks FrameCommandSteps;

bool UiMayEditProject(const AppState& state) {
    return !state.backgroundJob.active.load(std::memory_order_acquire) &&
           !state.exportRunning.load(std::memory_order_acquire);
}

namespace {

// How long the export's progress shows "done" before the completion runs.
constexpr double kExportCompleteHold = 0.8;

}  // namespace

bool RunFrameWork(double frameSeconds, bool mouseButtonDown) {
    FrameFirstFrameWork();
    TakeUpdateCheckResult();
    FrameLauncherDecision();
    FrameLibraryFolders();
    FrameVideoReset();
    FrameProjectVideo();
    FrameDroppedVideo();
    FrameDroppedSounds();
    FrameSceneLinks();
    FrameBedLayers(mouseButtonDown);
    FramePendingDelete();
    FrameCacheRebuild();
    FrameBedLoading();
    FrameRenderRequest();
    if (!FrameRunningJob()) return false;
    FrameJoinIdleWorker();
    FrameExportFinished();
    FrameIdleUpkeep();
    FrameTransport(frameSeconds);
    if (FrameCommandSteps.first) FrameCommandSteps.first();
    FrameCloseRequest();
    if (FrameCommandSteps.second) FrameCommandSteps.second();
    FrameProjectToOpen();
    return true;
}

// [SECTION] Start-up frames, library folders, video, drops

void FrameFirstFrameWork() {
    if (FrameWork.firstFrameDone) return;
    // Marked first: a step that fails (a file that exhausts memory) must not
    // make every later frame run the whole load again.
    FrameWork.firstFrameDone = true;
    AppState& state = GlobalAppState;
    InitLibraryCache(SoundLibrary);
    LoadPreferences();
    // Both fill the folders the lists are read from.
    MigrateLegacyPresetFolders();
    InstallDemoContent(false);
    ReloadRecipes();
    ReloadChains();

    PlaybackEngine& engine = LivePlaybackEngine;
    if (state.projectSampleRate != engine.sampleRate) {
        // The mixer's own copy of the rate moves with it.
        SetPlaybackSampleRate(engine, state.projectSampleRate);
        // The audio thread may already run: the reset lands between blocks.
        RequestReverbReset(engine.reverbRequests, engine.sampleRate);
        SetOutputSampleRate(LiveAudioOutput, static_cast<std::uint32_t>(std::max(engine.sampleRate, 0)));
    }
    MaybeStartAutomaticUpdateCheck(static_cast<std::int64_t>(std::time(nullptr)));
}

void FrameLauncherDecision() {
    if (!FrameWork.firstFrameDone || FrameWork.launcherChecked) return;
    AppState& state = GlobalAppState;
    FrameWork.launcherChecked = true;
    if (state.showLauncherOnStartup && !state.launcherDismissed) state.launcherOpen = true;
}

void FrameLibraryFolders() {
    // The folders the preferences and the demo content queue wait two
    // frames, so the first frames draw before any scan starts.
    if (FrameWork.frameCounter < 2) {
        ++FrameWork.frameCounter;
        return;
    }
    if (!PendingLibraryFolders.empty()) ProcessPendingLibraryFolders(SoundLibrary);
}

namespace {

constexpr float kVideoErrorSeconds = 8.0f;

// The reference audio follows the mixer's reference strip.
void ApplyRefAudioGain() {
    const PlaybackEngine& engine = LivePlaybackEngine;
    SetRefAudioGain(engine.refMute ? 0.0f : engine.refGain);
}

// The review's selections and menus point into the read of the picture that
// goes; the marker choice and a pending import go with them.
void ClearPictureReview(AppState& state) {
    state.selectedDetections.clear();
    state.traceMarqueeBaseDetections.clear();
    state.traceMenuDetections.clear();
    state.activeTraceMarkerKind = -1;
    state.activeTraceMarkerIndex = -1;
    if (state.traceSourceFilter == 0) state.traceSourceFilter = -1;
    state.traceImportRequested = false;
}

}  // namespace

void FrameVideoReset() {
    AppState& state = GlobalAppState;
    if (!state.videoChangePending) return;
    state.videoChangePending = false;
    // A project just opened brings its own read of the video it names
    // (waiting in pendingVideoPath): only a read still running on the old
    // video is stopped then. Otherwise the read belongs to the video that
    // goes.
    if (state.traceRunning.load(std::memory_order_acquire) || state.pendingVideoPath.empty()) {
        CancelTraceAnalysis(state);
    }
    GlobalVideoPlayer.Close();
    state.videoPath.clear();
    ClearPictureReview(state);
    if (state.activeTab == 1 && !TraceReadValid(state) && state.markerEvents.empty()) state.activeTab = 0;
}

void FrameProjectVideo() {
    AppState& state = GlobalAppState;
    if (state.pendingVideoPath.empty()) return;
    const std::string path = std::exchange(state.pendingVideoPath, std::string());
    VideoPlayer& video = GlobalVideoPlayer;
    // A file that is not there was already offered to the video dialog by
    // the open; it is passed over quietly.
    if (IsFileReadable(path)) {
        if (video.Load(path.c_str())) {
            state.videoPath = path;
            video.timelineOffset = state.pendingVideoStart;
            ApplyRefAudioGain();
        } else {
            PostStatus("Error: couldn't decode the project's video (codec not supported on this system) "
                       "\u2014 use an H.264 .mp4 proxy",
                       kVideoErrorSeconds);
        }
    }
    state.pendingVideoStart = 0.0f;
}

void FrameDroppedVideo() {
    AppState& state = GlobalAppState;
    DropState& drop = state.dropState;
    // A new video changes the project's length and rate: it waits while a
    // job or an export reads the project.
    if (drop.droppedVideo.empty() || !UiMayEditProject(state)) return;
    const std::string path = std::exchange(drop.droppedVideo, std::string());
    // The working video, its read and its path stay until the new file is
    // known to open.
    const VideoProbe probe = ProbeVideoFile(path.c_str());
    if (probe == VideoProbe::NotVideo) {
        PostStatus("Error: not a video file", kVideoErrorSeconds);
        return;
    }
    const bool opens = probe == VideoProbe::Opens;
    VideoPlayer& video = GlobalVideoPlayer;
    if (opens) {
        CancelTraceAnalysis(state);
        if (video.loaded) video.Close();
    }
    if (!opens || !video.Load(path.c_str())) {
        PostStatus("Error: couldn't decode this video (codec not supported on this system) "
                   "\u2014 use an H.264 .mp4 proxy",
                   kVideoErrorSeconds);
        if (opens) {
            state.videoPath.clear();  // the old one is closed already
            ClearPictureReview(state);
        }
        return;
    }
    ApplyRefAudioGain();
    ClearPictureReview(state);
    state.videoPath = path;
    Project& project = CurrentProject;
    // Never shortened: events past the picture's end keep their place.
    project.totalDuration = std::max(video.timelineOffset + video.duration, project.totalDuration);
    project.fps = video.fps;
    state.viewStart = 0.0f;
    state.viewEnd = project.totalDuration;
    state.playhead = 0.0f;
}

void FrameDroppedSounds() {
    AppState& state = GlobalAppState;
    // HandleDroppedAudio holds the drop itself while a job or an export runs.
    HandleDroppedAudio(state, CurrentProject, SoundLibrary, LivePlaybackEngine, FrameDropOperations);
}

// [SECTION] Scene links, beds, deletes, rebuilds and renders

void FrameSceneLinks() {
    Project& project = CurrentProject;
    const auto sceneCount = static_cast<std::int32_t>(project.scenes.size());
    for (Event& event : project.events) {
        if (event.sceneLink < 0) continue;
        if (event.sceneLink >= sceneCount) {
            event.sceneLink = -1;
            continue;
        }
        const Scene& scene = project.scenes[static_cast<std::size_t>(event.sceneLink)];
        // A build may be reading these: only a real change is written.
        const float duration = scene.outTime - scene.inTime;
        if (event.time != scene.inTime) event.time = scene.inTime;
        if (event.syncOffset != 0.0f) event.syncOffset = 0.0f;
        if (event.duration != duration) event.duration = duration;
    }
}

void FrameBedLayers(bool mouseButtonDown) {
    Project& project = CurrentProject;
    if (mouseButtonDown || !UiMayEditProject() || project.events.empty()) return;
    bool changed = false;
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        if (!IsKind(project.events[i].shape, EventKind::Bed)) continue;
        if (SyncBedEventLayers(project, static_cast<std::int32_t>(i))) changed = true;
    }
    if (changed) GlobalAppState.audioUpdateRequested.store(true, std::memory_order_release);
}

void FramePendingDelete() {
    // The timeline's background picker asks for a delete here; the request
    // waits while the edit guard is closed.
    AppState& state = GlobalAppState;
    if (state.pendingDeleteEvent < 0 || !UiMayEditProject(state)) return;
    const std::int32_t index = std::exchange(state.pendingDeleteEvent, -1);
    Project& project = CurrentProject;
    const auto count = static_cast<std::int32_t>(project.events.size());
    if (index >= count) return;
    PushUndo();
    state.RemoveEventFromSelection(index);
    project.DeleteEvent(index);
    RemoveEventVoices({index}, count);
    state.audioUpdateRequested.store(true, std::memory_order_release);
    state.unsavedChanges = true;
}

void FrameCacheRebuild() {
    AppState& state = GlobalAppState;
    if (!state.audioUpdateRequested.load(std::memory_order_acquire) || !UiMayEditProject(state)) return;
    // Cleared first; a refused start (the picture analysis runs) keeps it,
    // so the frame tries again.
    state.audioUpdateRequested.store(false);
    if (!RebuildCacheAsync("Updating audio...", false)) state.audioUpdateRequested.store(true);
}

void FrameBedLoading() {
    AppState& state = GlobalAppState;
    // Kept until a job can start: a picture read would refuse it silently.
    if (state.pendingBedLayout < 0 || !UiMayEditProject(state) || !CanStartBackgroundJob()) return;
    const std::int32_t event = std::exchange(state.pendingBedLayout, -1);
    if (event >= static_cast<std::int32_t>(CurrentProject.events.size())) return;
    StartBackgroundJob("Loading bed\u2026", [event] { RunRenderEventJob(event); }, false, -1.0f);
}

void FrameRenderRequest() {
    AppState& state = GlobalAppState;
    if (state.pendingRenderMode <= 0 || !UiMayEditProject(state) || state.traceRunning.load()) return;
    RenderRequest request;
    request.mode = std::exchange(state.pendingRenderMode, 0);
    request.eventList = std::move(state.pendingRenderEvents);
    state.pendingRenderEvents.clear();
    if (request.mode == kRenderRebuildEvent && !request.eventList.empty()) request.eventIndex = request.eventList[0];

    state.lockAfterBuild = true;
    if (state.activeTab == 1) state.activeTab = 0;
    Project& project = CurrentProject;
    if (request.mode == kRenderRebuildAll) {
        for (Event& event : project.events) event.locked = false;
    }
    if (state.HasWorkArea()) {
        request.rangeStart = state.workAreaIn;
        request.rangeEnd = state.workAreaOut;
    }
    request.full = request.mode == kRenderBuild || request.mode == kRenderRebuildAll;
    const char* label = request.mode == kRenderRebuildAll                                       ? "Rebuilding..."
                        : request.mode == kRenderRebuildEvent || request.mode == kRenderEventList ? "Rebuilding event..."
                                                                                                  : "Building...";
    const std::int32_t mode = request.mode;
    const auto listed = static_cast<std::int32_t>(request.eventList.size());
    const bool full = request.full;
    StartBackgroundJob(label, [request = std::move(request)] { RunRenderJob(request); }, true, -1.0f);

    BackgroundJob& job = state.backgroundJob;
    PlaybackEngine& engine = LivePlaybackEngine;
    if (full) {
        job.revealBuildProgress = true;
        engine.ready.store(false, std::memory_order_release);
        engine.voicesRendered.store(0);
        engine.voiceCount.store(0);
        project.builtResultCount.store(0);
        job.jobEventsDone.store(0);
        job.jobEventTotal = 0;
    } else if (mode == kRenderEventList) {
        job.revealBuildProgress = true;
        job.revealByBuiltLayers = true;
        project.results.reserve(project.results.size() + 48 * static_cast<std::size_t>(listed) + 64);
        job.jobEventsDone.store(0);
        job.jobEventTotal = listed;
    }
}

// [SECTION] The running job, the export, upkeep and transport

namespace {

// How long a frozen job's overlay shows its full bar after the work ended.
constexpr double kFrozenJobHold = 0.8;

void FinishJob(AppState& state) {
    EndBackgroundJob(state.backgroundJob);
    FrameWork.jobEnded = true;
    int placeholders = 0;
    for (const LayerResult& layer : CurrentProject.results)
        if (layer.isSketch) ++placeholders;
    const std::string message = PlaceholderMessage(placeholders, !SoundLibrary.palettes.empty());
    if (!message.empty()) PostStatus(message, 8.0f);
    BackgroundJob& job = state.backgroundJob;
    if (!job.doneStatus.empty()) PostStatus(std::exchange(job.doneStatus, std::string()), 3.0f);
    if (state.lockAfterBuild) {
        for (Event& event : CurrentProject.events) event.locked = true;
        state.lockAfterBuild = false;
    }
}

}  // namespace

std::string PlaceholderMessage(int placeholders, bool libraryHasPalettes) {
    if (placeholders <= 0) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%s \xe2\x80\x94 %d placeholder clip%s",
                  libraryHasPalettes ? "Some files unreadable" : "No palette", placeholders,
                  placeholders == 1 ? "" : "s");
    return text;
}

void SnapshotCopyFinished(BackgroundJob& job, bool copied, void* view) {
    job.snapshotView = copied ? view : nullptr;
    job.snapshotRequested = false;
}

bool FrameRunningJob() {
    AppState& state = GlobalAppState;
    BackgroundJob& job = state.backgroundJob;
    if (!job.active.load()) return true;
    const bool live = job.revealBuildProgress;
    if (job.cancellable && FrameWork.escapePressed && !job.done.load(std::memory_order_acquire))
        job.cancel.store(true);

    if (job.done.load(std::memory_order_acquire)) {
        if (job.worker.joinable()) job.worker.join();
        bool end = live;
        if (!live) {
            if (job.progress.load() >= 0.0f) job.progress.store(1.0f);
            const double now = UiClockSeconds();
            if (job.doneTime == 0.0) job.doneTime = now;
            end = now - job.doneTime >= kFrozenJobHold;
        }
        if (end) {
            FinishJob(state);
            return true;
        }
    }

    if (live) {
        LaunchBackgroundJobWorker(job);
        return true;
    }
    // The frame a frozen job starts in is the picture it shows: its worker
    // waits until that frame has been copied.
    if (job.snapshotRequested) return true;
    LaunchBackgroundJobWorker(job);
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Tick();
    return false;
}

void FrameJoinIdleWorker() {
    AppState& state = GlobalAppState;
    BackgroundJob& job = state.backgroundJob;
    if (!job.active.load() && !state.traceRunning.load() && job.worker.joinable()) job.worker.join();
}

void FrameExportFinished() {
    AppState& state = GlobalAppState;
    if (!state.exportRunning.load(std::memory_order_acquire) || !state.exportDone.load(std::memory_order_acquire)) {
        return;
    }
    JoinExportThread(state.exportThread);
    if (state.exportProgress.load() >= 0.0f) state.exportProgress.store(1.0f);
    const double now = UiClockSeconds();
    if (state.exportDoneTime == 0.0) state.exportDoneTime = now;
    if (now - state.exportDoneTime < kExportCompleteHold) return;
    state.exportRunning.store(false);
    state.exportDone.store(false);
    state.exportDoneTime = 0.0;
    if (state.exportCompleteCallback) {
        auto callback = std::move(state.exportCompleteCallback);
        state.exportCompleteCallback = nullptr;
        callback();
    }
}

void FrameIdleUpkeep() {
    const double now = UiClockSeconds();
    if (!GlobalAppState.backgroundJob.active.load()) {
        UpdateLibrary(SoundLibrary, now);
        ScanMissingSources(false, now);
    }
    UpdateSourceWeightsAndLayers(now);
}

namespace {

// Playback past the auditioned layer's end by this much stops it.
constexpr float kAuditionTail = 0.1f;
// The picture is put back in step when it drifts further than this from the
// transport, except near its end, where its last frames may lag.
constexpr double kVideoDriftLimit = 0.25;
constexpr double kVideoEndMargin = 0.3;

void StopPlayback(AppState& state, PlaybackEngine& engine) {
    state.playing = false;
    engine.playing.store(false);
    GlobalVideoPlayer.Pause();
}

// The picture follows the transport while the playhead is inside its span.
void SyncVideo(double t, bool wasInside) {
    VideoPlayer& video = GlobalVideoPlayer;
    if (!video.loaded) return;
    const double start = video.timelineOffset;
    const double end = start + video.duration;
    if (t >= start && t < end) {
        const double shown = video.Tick();
        if (!wasInside || (std::fabs(shown - t) > kVideoDriftLimit && t < end - kVideoEndMargin)) {
            video.Seek(static_cast<float>(t));
            video.Play();
        }
    } else if (wasInside) {
        video.Pause();
    }
}

}  // namespace

void FrameTransport(double frameSeconds) {
    AppState& state = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    VideoPlayer& video = GlobalVideoPlayer;
    const bool ready = engine.ready.load(std::memory_order_acquire);
    const bool wasInside = video.loaded && state.playhead >= video.timelineOffset &&
                           state.playhead < video.timelineOffset + video.duration;
    if (state.playing) {
        // The engine's clock when it plays into an open stream; the frame's
        // otherwise (no device, or a lost one), and the engine is located
        // there so that it picks up where the picture is.
        const AudioOutput& output = LiveAudioOutput;
        const bool streamRuns = output.open && !output.streamFailed.load(std::memory_order_relaxed);
        const bool engineClock = ready && engine.playing.load() && streamRuns;
        const double t = engineClock ? GetPlaybackTime(engine) : static_cast<double>(state.playhead) + frameSeconds;
        if (ready && !engineClock) LocatePlayback(engine, t);
        SyncVideo(t, wasInside);
        state.playhead = static_cast<float>(t);
        if (t >= static_cast<double>(CurrentProject.totalDuration)) {
            state.playhead = 0.0f;
            StopPlayback(state, engine);
            LocatePlayback(engine, 0.0);
            video.Seek(0.0f);
        }
    } else if (video.loaded) {
        video.Tick();  // shows the frame at its current position
    }

    // Auditioning one layer: it ends with playback, and playback stops just
    // after the layer does.
    if (state.soloLayer >= 0) {
        if (!state.playing) {
            state.soloLayer = -1;
            if (engine.soloVoice != -1) {
                engine.soloVoice = -1;
                PublishMixerSettings(engine);
            }
        } else if (ready && state.soloLayer < static_cast<std::int32_t>(CurrentProject.results.size())) {
            const LayerResult& layer = CurrentProject.results[static_cast<std::size_t>(state.soloLayer)];
            if (state.playhead > layer.startTime + layer.duration + kAuditionTail) StopPlayback(state, engine);
        }
    }

    if (!state.playing && ready) LocatePlayback(engine, static_cast<double>(state.playhead));
    if (!state.backgroundJob.active.load() && !state.exportRunning.load() && ready)
        StreamVoicesNearPlayhead(engine, CurrentProject.results.data(),
                                 static_cast<std::int32_t>(CurrentProject.results.size()));
}

// [SECTION] Close, open and the end of the frame

void FrameCloseRequest() {
    AppState& state = GlobalAppState;
    if (!state.CloseRequested) return;
    // An export is never cut off: the close waits, the loop kept busy by the
    // export, until the frame has seen it finish.
    if (state.exportRunning.load(std::memory_order_acquire)) return;
    state.CloseRequested = false;
    if (state.unsavedChanges && !CurrentProject.events.empty()) {
        state.unsavedPromptState = 1;
        state.quitAfterPrompt = true;
        return;
    }
    if (!state.platformHooks.closeWindow) return;
    // Workers first, so the preferences are written with nothing running.
    StopWorkers();
    SavePrefs();
    state.platformHooks.closeWindow();
}

void FrameProjectToOpen() {
    AppState& state = GlobalAppState;
    if (state.PendingOpenPath.empty() || !UiMayEditProject(state)) return;
    if (state.unsavedChanges && !CurrentProject.events.empty()) {
        state.parkedOpenPath = std::move(state.PendingOpenPath);
        state.PendingOpenPath.clear();
        state.unsavedPromptState = 1;
        return;
    }
    OpenProject(std::exchange(state.PendingOpenPath, std::string()));
}

void FrameEndOfFrame() {
    DropState& drop = GlobalAppState.dropState;
    // A dropped folder is offered to the library tab for one frame.
    drop.droppedFolderPaths.clear();
    EndDropHoverFrame(drop);
}

// [SECTION] Status line

void PostStatus(const std::string& text, float seconds) {
    AppState& state = GlobalAppState;
    state.statusMessage = text;
    state.statusTime = seconds;
}

void TickStatusLine(double frameSeconds) {
    AppState& state = GlobalAppState;
    if (state.statusTime > 0.0f) state.statusTime -= static_cast<float>(frameSeconds);
    AudioOutput& output = LiveAudioOutput;
    if (!output.statusText.empty()) {
        PostStatus(output.statusText, 5.0f);
        output.statusText.clear();
    }
}

std::uint32_t StatusTextColor(const std::string& text) {
    const auto has = [&text](const char* word) { return text.find(word) != std::string::npos; };
    // The export reports its failure in capitals.
    if (has("Error") || has("failed") || has("FAILED")) return Rgb(0xFF7864);
    if (has("missing") || has("unreadable") || has("sketch")) return Rgb(0xFFC864);
    return Rgb(0xB4DCB4);
}

int StatusTextAlpha(float secondsLeft) {
    if (!(secondsLeft > 0.0f)) return 0;
    return static_cast<int>(std::floor(std::min(2.0f * secondsLeft, 1.0f) * 200.0f));
}

}  // namespace korvel
