#include "app/title_bar.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/frame_work.h"
#include "playback/audio_output.h"

namespace korvel {

ProjectLifeCycleCalls ProjectLifeCycle;

bool StepBlend(float& value, float target, float rate, double frameSeconds) {
    const float dt = static_cast<float>(std::clamp(frameSeconds, 0.0, 0.025));
    value += std::min(rate * dt, 1.0f) * (target - value);
    if (std::fabs(target - value) < 0.004f) value = target;
    return value == target;
}

bool TabLabelsFit(const TabStripFit& fit) {
    const float right = fit.displayWidth - 12.0f;
    return fit.neededWidth <=
           right - fit.captionButtonsWidth - fit.x - (fit.promptShown ? 210.0f : 0.0f) - 16.0f;
}

float TabStripWidth(float neededWidth, float compact, float blend) {
    return (neededWidth - 6.0f * compact) * blend + 6.0f * compact;
}

std::string ProjectNameFromPath(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

std::string FitTextWithEllipsis(std::string_view text, float available,
                                const std::function<float(std::string_view)>& width) {
    if (width(text) <= available) return std::string(text);
    const float room = available - width("...");
    // Candidate cuts are the starts of characters: never inside a
    // multi-byte sequence.
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0u) != 0x80u) cuts.push_back(i);
    std::size_t lo = 0;  // cuts[lo] fits (a cut of 0 bytes always does)
    std::size_t hi = cuts.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (width(text.substr(0, cuts[mid])) <= room)
            lo = mid;
        else
            hi = mid;
    }
    return std::string(text.substr(0, cuts.empty() ? 0 : cuts[lo])) + "...";
}

void ClickMainTab(AppState& state, int tab) {
    if (tab == state.activeTab) {
        state.activeTab = 0;
        return;
    }
    if (tab == 1) state.SelectEvent(-1);
    state.activeTab = tab;
}

void UnsavedPromptSave(AppState& state) {
    std::string path = state.projectPath;
    if (path.empty()) {
        if (!state.platformHooks.saveFileDialog) return;
        path = state.platformHooks.saveFileDialog("Save Korvel Project", "kvproj");
        if (path.empty()) return;  // cancelled: the prompt stays
    }
    bool saved = false;
    if (ProjectLifeCycle.saveProject) {
        saved = ProjectLifeCycle.saveProject(path);
    } else {
        PostStatus("Save failed", 3.0f);
    }
    if (saved && ProjectLifeCycle.runPendingProjectAction) ProjectLifeCycle.runPendingProjectAction();
}

void UnsavedPromptDiscard(AppState&) {
    if (ProjectLifeCycle.runPendingProjectAction) ProjectLifeCycle.runPendingProjectAction();
}

void UnsavedPromptCancel(AppState& state) {
    state.unsavedPromptState = 0;
    state.quitAfterPrompt = false;
    state.parkedOpenPath.clear();
    state.openThroughDialog = false;
}

void AutoSaveTick(AppState& state, double frameSeconds) {
    if (!state.autoSaveEnabled || !state.unsavedChanges || state.projectPath.empty() ||
        state.backgroundJob.active.load(std::memory_order_acquire))
        return;
    state.autoSaveElapsed += std::max(frameSeconds, 0.0);
    if (state.autoSaveElapsed < state.autoSaveInterval) return;
    if (ProjectLifeCycle.autoSaveProject && ProjectLifeCycle.autoSaveProject(state.projectPath))
        PostStatus("Auto-saved (backup)", 2.0f);
    state.autoSaveElapsed = 0.0;  // a failure waits one more interval
}

void RunTitleBarServices(AppState& state, double frameSeconds) {
    AudioOutput& output = LiveAudioOutput;
    output.deviceCheckTimer += static_cast<float>(std::max(frameSeconds, 0.0));
    if (output.deviceCheckTimer >= 2.5f) {
        output.deviceCheckTimer = 0.0f;
        if (ProjectLifeCycle.recoverAudioDevice) ProjectLifeCycle.recoverAudioDevice();
    }
    // After the check, so what it reports shows in the same frame.
    TickStatusLine(frameSeconds);
    AutoSaveTick(state, frameSeconds);
}

}  // namespace korvel
